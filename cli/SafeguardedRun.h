// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "updater/FlashUpdate.h"
#include "updater/UserInterface.h"
#include "updater/Variant.h"
#include "usb/Driver.h"

#include <iosfwd>

namespace telmar::cli {

// One flash update with the safeguards every updater program takes: the update lock
// that all of them share, the guard against sleep and shutdown during the write, and
// interrupts deferred while the image is written (one line on `err` says so; the
// program ends when the run has ended). An interrupt before or after the write ends
// the program at once.
updater::FlashUpdate::Outcome runSafeguarded(const updater::Variant& variant, usb::Driver& driver,
                                             link::Clock& clock, updater::UserInterface& ui,
                                             std::ostream& err);

inline constexpr const char* kInterruptDeferredText =
    "telmarctl: the image is being written; telmarctl ends when the write has ended. "
    "Do not disconnect the box.";

} // namespace telmar::cli
