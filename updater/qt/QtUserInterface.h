// SPDX-License-Identifier: MIT
#pragma once

#include "updater/UserInterface.h"

namespace telmar::updater {

class LineCanvas;

// The flash procedure's view of the Qt shell. Called from the worker thread: lines
// are queued to the GUI thread; a warning box is shown there, not modal, and the
// worker waits until the user has dismissed it.
class QtUserInterface final : public UserInterface {
  public:
    explicit QtUserInterface(LineCanvas* canvas) : canvas_(canvas) {}

    void drawStatusLine(std::string_view text, int y) override;
    void showWarning(std::string_view text, std::string_view caption) override;
    // Ends the process at once, worker and window with it.
    [[noreturn]] void endProcess(int exitCode) override;

  private:
    LineCanvas* canvas_; // outlives every worker: the window waits for its worker
};

} // namespace telmar::updater
