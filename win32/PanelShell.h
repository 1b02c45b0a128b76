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

std::wstring windowText(HWND window);

// Registers a window class of the program: its icon, the arrow and the dialog face.
void registerWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure,
                         const wchar_t* menu = nullptr);

// The procedure of a window made for an `Owner` (CreateWindowEx's last argument): from
// WM_NCCREATE on, the owner knows its window and handles every message.
template <typename Owner>
LRESULT CALLBACK ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* owner = static_cast<Owner*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
        owner->window_ = window;
    }
    auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return owner != nullptr ? owner->handle(message, wParam, lParam)
                            : DefWindowProcW(window, message, wParam, lParam);
}

} // namespace telmar::win32
