// SPDX-License-Identifier: MIT
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "usb/Driver.h"

#include <memory>
#include <string>
#include <string_view>
#include <windows.h>

namespace telmar::win32 {

// The window class of the Win32 control panel.
inline constexpr wchar_t kPanelWindowClass[] = L"LUMORA_GUI";

// The whole program: builds the window from the form table in the resources, runs
// the start-up sequence, shows the window and runs the message loop. Returns the exit
// code (0; File > Exit ends the process with 0 itself).
// The window runs on the driver its program chose.
int runPanel(HINSTANCE instance, int showMode, std::unique_ptr<usb::Driver> driver);

// UTF-8 (the form's texts) to UTF-16.
std::wstring fromUtf8(std::string_view text);

} // namespace telmar::win32
