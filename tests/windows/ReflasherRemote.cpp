// SPDX-License-Identifier: MIT
// Drives a running Reflasher as a user would, for the Wine test:
//
//   reflasher-remote find SECONDS       wait for the window; print its class, title,
//                                       process and client area on screen
//   reflasher-remote command ID         post WM_COMMAND ID to the window
//   reflasher-remote close              post WM_CLOSE (the close box, Alt+F4)
//   reflasher-remote boxes SECONDS N    answer N message boxes of the program with OK
//                                       (N = 0: until its window is gone), printing
//                                       "box<TAB>caption<TAB>text" for each
//   reflasher-remote about SECONDS      open the About box, print "about<TAB>text" for
//                                       each of its text controls, and close it
//   reflasher-remote lonebox SECONDS    answer the first message box of any program,
//                                       printing it as above, after "window=none" or
//                                       "window=open" for the updater's main window
//
// Exit codes: 0 done, 2 timed out or no window, 3 bad arguments.
#include "RemoteCommon.h"

#include <cwchar>
#include <string>
#include <windows.h>

namespace {

using namespace remote;

constexpr wchar_t kWindowClass[] = L"TELMAR REFLASHER";

HWND mainWindow() {
    return FindWindowW(kWindowClass, nullptr);
}

int find(const wchar_t* seconds) {
    HWND window = waitForWindow(kWindowClass, deadlineAfter(seconds));
    if (window == nullptr) {
        return noWindow(kWindowClass);
    }
    sayWindow(window);
    return 0;
}

int boxes(const wchar_t* seconds, const wchar_t* countText) {
    const ULONGLONG deadline = deadlineAfter(seconds);
    const unsigned long wanted = std::wcstoul(countText, nullptr, 10);
    HWND window = mainWindow();
    if (window == nullptr) {
        return noWindow(kWindowClass);
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);

    unsigned long answered = 0;
    while (wanted == 0 || answered < wanted) {
        if (GetTickCount64() > deadline) {
            say("timed out after " + std::to_string(answered) + " boxes");
            return 2;
        }
        if (wanted == 0 && !IsWindow(window)) {
            return 0;
        }
        HWND box = visibleBox(pid);
        if (box == nullptr) {
            Sleep(50);
            continue;
        }
        sayBox(box);
        pressOk(box);
        ++answered;
        waitGone(box, deadline);
    }
    return 0;
}

BOOL CALLBACK sayStatic(HWND child, LPARAM) {
    if (className(child) == L"Static") {
        say("about\t" + oneLine(windowText(child)));
    }
    return TRUE;
}

int about(const wchar_t* seconds) {
    const ULONGLONG deadline = deadlineAfter(seconds);
    HWND window = mainWindow();
    if (window == nullptr || !PostMessageW(window, WM_COMMAND, MAKEWPARAM(104, 0), 0)) {
        return noWindow(kWindowClass);
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    for (;;) {
        if (HWND box = visibleBox(pid); box != nullptr) {
            EnumChildWindows(box, sayStatic, 0);
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            waitGone(box, deadline);
            return 0;
        }
        if (GetTickCount64() > deadline) {
            say("no About box appeared");
            return 2;
        }
        Sleep(50);
    }
}

// A box shown before (or without) any main window.
int loneBox(const wchar_t* seconds) {
    const ULONGLONG deadline = deadlineAfter(seconds);
    for (;;) {
        if (HWND box = visibleBox(0); box != nullptr) {
            say(mainWindow() == nullptr ? "window=none" : "window=open");
            sayBox(box);
            pressOk(box);
            return 0;
        }
        if (GetTickCount64() > deadline) {
            say("no box appeared");
            return 2;
        }
        Sleep(50);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"find" && argc == 3) {
        return find(argv[2]);
    }
    if (verb == L"command" && argc == 3) {
        return post(kWindowClass, WM_COMMAND, MAKEWPARAM(std::wcstoul(argv[2], nullptr, 10), 0));
    }
    if (verb == L"close" && argc == 2) {
        return post(kWindowClass, WM_CLOSE, 0);
    }
    if (verb == L"boxes" && argc == 4) {
        return boxes(argv[2], argv[3]);
    }
    if (verb == L"about" && argc == 3) {
        return about(argv[2]);
    }
    if (verb == L"lonebox" && argc == 3) {
        return loneBox(argv[2]);
    }
    say("usage: reflasher-remote find SECONDS | command ID | close | boxes SECONDS COUNT | "
        "about SECONDS | lonebox SECONDS");
    return 3;
}
