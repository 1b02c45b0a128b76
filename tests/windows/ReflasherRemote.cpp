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
#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>

namespace {

constexpr wchar_t kWindowClass[] = L"TELMAR REFLASHER";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kMessageBoxTextId = 0xFFFF;

std::string utf8(const std::wstring& text) {
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
std::string oneLine(const std::wstring& text) {
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

std::wstring windowText(HWND window) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(window, buffer, static_cast<int>(std::size(buffer)));
    return buffer;
}

std::wstring className(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
    return buffer;
}

void say(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

HWND mainWindow() {
    return FindWindowW(kWindowClass, nullptr);
}

ULONGLONG deadlineAfter(const wchar_t* seconds) {
    return GetTickCount64() + static_cast<ULONGLONG>(std::wcstoul(seconds, nullptr, 10)) * 1000;
}

int find(const wchar_t* seconds) {
    const ULONGLONG deadline = deadlineAfter(seconds);
    HWND window = nullptr;
    while ((window = mainWindow()) == nullptr || !IsWindowVisible(window)) {
        if (GetTickCount64() > deadline) {
            say("no window of class TELMAR REFLASHER");
            return 2;
        }
        Sleep(50);
    }
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
    return 0;
}

int post(UINT message, WPARAM wParam) {
    HWND window = mainWindow();
    if (window == nullptr || !PostMessageW(window, message, wParam, 0)) {
        say("no window of class TELMAR REFLASHER");
        return 2;
    }
    return 0;
}

struct BoxSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK findBox(HWND window, LPARAM param) {
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

int boxes(const wchar_t* seconds, const wchar_t* countText) {
    const ULONGLONG deadline = deadlineAfter(seconds);
    const unsigned long wanted = std::wcstoul(countText, nullptr, 10);
    HWND window = mainWindow();
    if (window == nullptr) {
        say("no window of class TELMAR REFLASHER");
        return 2;
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
        BoxSearch search{pid, nullptr};
        EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) {
            Sleep(50);
            continue;
        }
        HWND box = search.found;
        say("box\t" + oneLine(windowText(box)) + "\t" +
            oneLine(windowText(GetDlgItem(box, kMessageBoxTextId))));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        ++answered;
        // The same box must not be answered twice.
        while (IsWindow(box) && GetTickCount64() <= deadline) {
            Sleep(20);
        }
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
        say("no window of class TELMAR REFLASHER");
        return 2;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    for (;;) {
        BoxSearch search{pid, nullptr};
        EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            EnumChildWindows(search.found, sayStatic, 0);
            PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            while (IsWindow(search.found) && GetTickCount64() <= deadline) {
                Sleep(20);
            }
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
        BoxSearch search{0, nullptr};
        EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            HWND box = search.found;
            say(mainWindow() == nullptr ? "window=none" : "window=open");
            say("box\t" + oneLine(windowText(box)) + "\t" +
                oneLine(windowText(GetDlgItem(box, kMessageBoxTextId))));
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
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
        return post(WM_COMMAND, MAKEWPARAM(std::wcstoul(argv[2], nullptr, 10), 0));
    }
    if (verb == L"close" && argc == 2) {
        return post(WM_CLOSE, 0);
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
