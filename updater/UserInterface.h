// SPDX-License-Identifier: MIT
#pragma once

#include "link/Messages.h"

namespace telmar::updater {

// What the flash procedure needs from a shell: draw a line at x 10 and a given y,
// show a warning box and wait until it is dismissed (both inherited), and end the
// process. Every call comes from the worker thread.
class UserInterface : public link::MessageSink, public link::LineSink {
  public:
    // A shell ends the process here and never returns. A test double may return;
    // the procedure then stops at once and touches the box no more.
    virtual void endProcess(int exitCode) = 0;
};

} // namespace telmar::updater
