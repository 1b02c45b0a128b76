// SPDX-License-Identifier: MIT
// What the Wine helper programs share: text of windows, output one line at a time,
// deadlines, and finding and answering message boxes.
#pragma once

#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>

namespace remote {

inline constexpr wchar_t kDialogClass[] = L"#32770";
inline constexpr int kMessageBoxTextId = 0xFFFF;

inline std::string utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// Line breaks written as \n so that every box stays on one output line.
inline std::string oneLine(const std::wstring& text) {
    std::string out;
    for (char c : utf8(text)) {
        if (c == '\n') {
            out += "\\n";
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

inline std::wstring windowText(HWND window) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(window, buffer, static_cast<int>(std::size(buffer)));
    return buffer;
}

inline std::wstring className(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
    return buffer;
}

inline void say(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

inline ULONGLONG deadlineAfter(const wchar_t* seconds) {
    return GetTickCount64() + static_cast<ULONGLONG>(std::wcstoul(seconds, nullptr, 10)) * 1000;
}

inline int noWindow(const wchar_t* windowClass) {
    say("no window of class " + utf8(windowClass));
    return 2;
}

// Null when no visible window of the class shows before the deadline.
inline HWND waitForWindow(const wchar_t* windowClass, ULONGLONG deadline) {
    HWND window = nullptr;
    while ((window = FindWindowW(windowClass, nullptr)) == nullptr || !IsWindowVisible(window)) {
        if (GetTickCount64() > deadline) {
            return nullptr;
        }
        Sleep(50);
    }
    return window;
}

// Prints class, title, process and client area on screen; returns the client origin.
inline POINT sayWindow(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    say("class=" + utf8(className(window)));
    say("title=" + utf8(windowText(window)));
    say("pid=" + std::to_string(pid));
    say("client=" + std::to_string(origin.x) + "," + std::to_string(origin.y) + "," +
        std::to_string(client.right) + "," + std::to_string(client.bottom));
    return origin;
}

inline int post(const wchar_t* windowClass, UINT message, WPARAM wParam) {
    HWND window = FindWindowW(windowClass, nullptr);
    if (window == nullptr || !PostMessageW(window, message, wParam, 0)) {
        return noWindow(windowClass);
    }
    return 0;
}

struct BoxSearch {
    DWORD pid; // 0: any program's
    HWND found;
};

inline BOOL CALLBACK findBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if ((search->pid == 0 || pid == search->pid) && IsWindowVisible(window) &&
        className(window) == kDialogClass) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

inline HWND visibleBox(DWORD pid) {
    BoxSearch search{pid, nullptr};
    EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline void sayBox(HWND box) {
    say("box\t" + oneLine(windowText(box)) + "\t" +
        oneLine(windowText(GetDlgItem(box, kMessageBoxTextId))));
}

inline void pressOk(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

// The same box must not be answered twice.
inline void waitGone(HWND box, ULONGLONG deadline) {
    while (IsWindow(box) && GetTickCount64() <= deadline) {
        Sleep(20);
    }
}

} // namespace remote
