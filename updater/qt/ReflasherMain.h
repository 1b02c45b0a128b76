// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "updater/Variant.h"

#include <functional>

namespace telmar::updater {

class UpdaterWindow;

// The whole Linux program once its QApplication exists: driver, update lock, logind
// inhibitor, deferred termination signals and the window, until the window closes.
// `started` runs once the window is shown (test harnesses drive the window from it).
int runReflasher(const Variant& variant, link::Clock& clock,
                 const std::function<void(UpdaterWindow&)>& started = {});

} // namespace telmar::updater
