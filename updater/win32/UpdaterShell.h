// SPDX-License-Identifier: MIT
#pragma once

#include "updater/Variant.h"
#include "usb/Driver.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <memory>
#include <windows.h>

namespace telmar::updater::win32 {

// Exit code when the vendor's USB library cannot be loaded.
inline constexpr int kMissingLibraryExitCode = 2;

// The whole program: window, greeting lines, message loop. Returns the exit code:
// the quit message's code after a normal close, 0 when the window cannot be made,
// kMissingLibraryExitCode when the vendor's library is missing.
// The driver is made by `makeDriver` once the vendor library is known to be there.
int runUpdater(HINSTANCE instance, int showMode, const Variant& variant,
               std::unique_ptr<usb::Driver> (*makeDriver)());

} // namespace telmar::updater::win32
