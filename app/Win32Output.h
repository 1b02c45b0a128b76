// SPDX-License-Identifier: MIT
#pragma once

// Windows only: where a GUI program writes what --version and --help answer.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <string>
#include <windows.h>

namespace telmar::app {

// A GUI program has no console of its own: write where its output was sent, else to
// the console it was started from, else show the text in a box.
inline void tellUser(const std::string& text, const std::string& caption) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    }
    DWORD written = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE &&
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return;
    }
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

} // namespace telmar::app
