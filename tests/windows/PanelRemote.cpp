// SPDX-License-Identifier: MIT
// Drives a running LUMORA_GUI.exe as a user would, for the Wine test:
//
//   panel-remote find SECONDS        wait for the window; print its class, title,
//                                    process, client area on screen and form size
//   panel-remote resize W H          ask the window to take this outer size
//   panel-remote controls EXE        one line per control of the form: name, class,
//                                    checked, enabled, visible, text
//   panel-remote click EXE NAME      click the control (BM_CLICK), as the mouse does
//   panel-remote command ID          post WM_COMMAND ID to the window (menus, page keys)
//   panel-remote close               post WM_CLOSE (the close box)
//   panel-remote status              print the status bar's text
//   panel-remote fit EXE             measure every control's text with the font the
//                                    form gives it; print one line each, exit 1 when
//                                    any does not fit
//   panel-remote boxes SECONDS N     answer N message boxes of the program with OK,
//                                    printing "box<TAB>caption<TAB>text" for each
//                                    (N = 0: wait for one and leave it open)
//   panel-remote details SECONDS     wait for View > Signal Details; print its window,
//                                    notice, "row<TAB>field<TAB>value" per list line
//                                    and "raw<TAB>line" per line of hex
//
// EXE is the program's file: the form table is read from its resources.
// Exit codes: 0 done, 1 a text does not fit, 2 timed out or no window, 3 bad arguments.
#include "RemoteCommon.h"
#include "win32/FormFonts.h"
#include "win32/FormTable.h"

#include <algorithm>
#include <commctrl.h>
#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace {

using namespace remote;
using telmar::win32::FormControl;
using telmar::win32::FormTable;

constexpr wchar_t kWindowClass[] = L"LUMORA_GUI";

HWND mainWindow() {
    return FindWindowW(kWindowClass, nullptr);
}

std::optional<FormTable> formOf(const wchar_t* exe) {
    HMODULE module = LoadLibraryExW(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = module != nullptr ? FindResourceW(module, L"FORMTABLE", RT_RCDATA) : nullptr;
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        say("no form table in " + utf8(exe));
        return std::nullopt;
    }
    std::string error;
    auto form = telmar::win32::parseFormTable(
        std::string_view(static_cast<const char*>(data), SizeofResource(module, found)), error);
    if (!form) {
        say(error);
    }
    return form;
}

struct ChildSearch {
    int id;
    HWND found;
};

BOOL CALLBACK findChild(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ChildSearch*>(param);
    if (GetDlgCtrlID(window) == search->id && className(window) != kDialogClass) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Control ids are unique across the window and its pages.
HWND controlWindow(HWND window, const FormControl& control) {
    ChildSearch search{control.id, nullptr};
    EnumChildWindows(window, findChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int find(const wchar_t* seconds) {
    HWND window = waitForWindow(kWindowClass, deadlineAfter(seconds));
    if (window == nullptr) {
        return noWindow(kWindowClass);
    }
    const POINT origin = sayWindow(window);
    RECT client{};
    GetClientRect(window, &client);
    // What the form calls the window's size holds the menu bar: the client area and the
    // rows between it and the frame that the style gives.
    RECT outer{};
    GetWindowRect(window, &outer);
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
    const long menu = (origin.y - outer.top) + frame.top;
    say("form-size=" + std::to_string(client.right) + "," + std::to_string(client.bottom + menu));
    say("outer=" + std::to_string(outer.right - outer.left) + "," +
        std::to_string(outer.bottom - outer.top));
    return 0;
}

int resize(const wchar_t* width, const wchar_t* height) {
    HWND window = mainWindow();
    if (window == nullptr) {
        return noWindow(kWindowClass);
    }
    SetWindowPos(window, nullptr, 0, 0, static_cast<int>(std::wcstol(width, nullptr, 10)),
                 static_cast<int>(std::wcstol(height, nullptr, 10)),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

int controls(const FormTable& form) {
    HWND window = mainWindow();
    if (window == nullptr) {
        return noWindow(kWindowClass);
    }
    for (const FormControl& c : form.controls) {
        HWND hwnd = controlWindow(window, c);
        if (hwnd == nullptr) {
            say(c.name + "\tmissing");
            continue;
        }
        const bool button = className(hwnd) == L"Button";
        say(c.name + "\t" + utf8(className(hwnd)) + "\t" +
            (button && SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0") + "\t" +
            (IsWindowEnabled(hwnd) ? "1" : "0") + "\t" + (IsWindowVisible(hwnd) ? "1" : "0") +
            "\t" + oneLine(windowText(hwnd)));
    }
    return 0;
}

int click(const FormTable& form, const std::string& name) {
    HWND window = mainWindow();
    const FormControl* control = form.find(name);
    HWND hwnd = window != nullptr && control != nullptr ? controlWindow(window, *control) : nullptr;
    if (hwnd == nullptr) {
        say("no control " + name);
        return 2;
    }
    // The press and release a mouse click makes; the button checks itself and tells
    // its parent, as on a real click.
    SendMessageW(hwnd, BM_CLICK, 0, 0);
    return 0;
}

BOOL CALLBACK findStatusBar(HWND window, LPARAM param) {
    if (className(window) == STATUSCLASSNAMEW) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

// The status bar's text lives in the program's memory: ask for it into a buffer there.
std::wstring remoteStatusText(HWND bar) {
    DWORD pid = 0;
    GetWindowThreadProcessId(bar, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                     PROCESS_QUERY_INFORMATION,
                                 FALSE, pid);
    if (process == nullptr) {
        return L"?";
    }
    constexpr std::size_t kChars = 512;
    void* remote = VirtualAllocEx(process, nullptr, kChars * sizeof(wchar_t),
                                  MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    std::wstring text(kChars, L'\0');
    if (remote != nullptr) {
        const auto length = LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, 0, 0));
        if (length < kChars) {
            SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(remote));
            ReadProcessMemory(process, remote, text.data(), (length + 1) * sizeof(wchar_t),
                              nullptr);
            text.resize(length);
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return text.c_str();
}

// A list view's texts live in the program's memory too: one item and buffer there.
std::vector<std::pair<std::string, std::string>> remoteListRows(HWND list) {
    std::vector<std::pair<std::string, std::string>> rows;
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                     PROCESS_QUERY_INFORMATION,
                                 FALSE, pid);
    constexpr std::size_t kChars = 512;
    auto* remote =
        process == nullptr
            ? nullptr
            : static_cast<char*>(VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kChars * 2,
                                                MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    const auto count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; remote != nullptr && i < count; ++i) {
        std::string cells[2];
        for (int column = 0; column < 2; ++column) {
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
            item.cchTextMax = kChars;
            std::wstring text(kChars, L'\0');
            WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
            const auto length = static_cast<std::size_t>(SendMessageW(
                list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote)));
            ReadProcessMemory(process, item.pszText, text.data(), kChars * 2, nullptr);
            text.resize(std::min(length, kChars - 1));
            cells[column] = oneLine(text);
        }
        rows.emplace_back(cells[0], cells[1]);
    }
    if (remote != nullptr) {
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
    return rows;
}

BOOL CALLBACK collectChild(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

int details(const wchar_t* seconds) {
    HWND window = waitForWindow(L"LUMORA_DETAILS", deadlineAfter(seconds));
    if (window == nullptr) {
        return noWindow(L"LUMORA_DETAILS");
    }
    sayWindow(window);
    std::vector<HWND> children;
    EnumChildWindows(window, collectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
        const std::wstring kind = className(child);
        if (kind == L"SysListView32") {
            for (const auto& [field, value] : remoteListRows(child)) {
                say("row\t" + field + "\t" + value);
            }
        } else if (kind == L"Edit") {
            // GetWindowText gives another program's edit its caption, not its text.
            std::wstring text(
                static_cast<std::size_t>(SendMessageW(child, WM_GETTEXTLENGTH, 0, 0) + 1), L'\0');
            text.resize(static_cast<std::size_t>(SendMessageW(
                child, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
            for (std::size_t end; (end = text.find(L"\r\n")) != std::wstring::npos;
                 text.erase(0, end + 2)) {
                say("raw\t" + utf8(text.substr(0, end)));
            }
        } else if (kind == L"Static" && GetDlgCtrlID(child) == 102) {
            say("notice=" + oneLine(windowText(child)));
        }
    }
    return 0;
}

int statusText() {
    HWND window = mainWindow();
    HWND bar = nullptr;
    if (window != nullptr) {
        EnumChildWindows(window, findStatusBar, reinterpret_cast<LPARAM>(&bar));
    }
    if (bar == nullptr) {
        say("no status bar");
        return 2;
    }
    say("status=" + oneLine(remoteStatusText(bar)));
    return 0;
}

int fit(const FormTable& form) {
    HWND window = mainWindow();
    if (window == nullptr) {
        return noWindow(kWindowClass);
    }
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    bool allFit = true;
    for (const FormControl& c : form.controls) {
        HWND hwnd = controlWindow(window, c);
        if (hwnd == nullptr || c.className == "SysTabControl32" ||
            (c.className == "STATIC" && (c.style & SS_TYPEMASK) == SS_BITMAP)) {
            continue;
        }
        const std::wstring text = windowText(hwnd);
        // The font the window gave the control: the form's, narrowed as it recorded.
        const auto width = static_cast<int>(
            reinterpret_cast<INT_PTR>(GetPropW(hwnd, telmar::win32::kFontWidthProperty)));
        const LOGFONTW logical = telmar::win32::formFont(form, c, dpi, width);
        HFONT font = CreateFontIndirectW(&logical);
        HGDIOBJ old = SelectObject(dc, font);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        SelectObject(dc, old);
        DeleteObject(font);
        RECT client{};
        GetClientRect(hwnd, &client);
        const int room = telmar::win32::textRoom(c, client.right);
        const bool fits = extent.cx <= room && extent.cy <= client.bottom - client.top;
        allFit = allFit && fits;
        say(std::string(fits ? "fits" : "CLIPPED") + "\t" + c.name + "\t" + utf8(face) + "\t" +
            std::to_string(width) + "\t" + std::to_string(extent.cx) + "x" +
            std::to_string(extent.cy) + "\tin\t" + std::to_string(room) + "x" +
            std::to_string(client.bottom - client.top) + "\t" + oneLine(text));
    }
    ReleaseDC(nullptr, dc);
    return allFit ? 0 : 1;
}

// Answers `countText` boxes with OK; "0" reports the first box and leaves it open.
int boxes(const wchar_t* seconds, const wchar_t* countText) {
    const ULONGLONG deadline = deadlineAfter(seconds);
    const unsigned long count = std::wcstoul(countText, nullptr, 10);
    const unsigned long wanted = count == 0 ? 1 : count;
    HWND window = mainWindow();
    if (window == nullptr) {
        return noWindow(kWindowClass);
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    for (unsigned long answered = 0; answered < wanted; ++answered) {
        HWND box = nullptr;
        while ((box = visibleBox(pid)) == nullptr) {
            if (GetTickCount64() > deadline) {
                say("timed out after " + std::to_string(answered) + " boxes");
                return 2;
            }
            Sleep(50);
        }
        sayBox(box);
        if (count == 0) {
            return 0;
        }
        pressOk(box);
        waitGone(box, deadline);
    }
    return 0;
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
    if (verb == L"resize" && argc == 4) {
        return resize(argv[2], argv[3]);
    }
    if (verb == L"status" && argc == 2) {
        return statusText();
    }
    if (verb == L"details" && argc == 3) {
        return details(argv[2]);
    }
    if (verb == L"boxes" && argc == 4) {
        return boxes(argv[2], argv[3]);
    }
    if ((verb == L"controls" || verb == L"fit") && argc == 3) {
        const auto form = formOf(argv[2]);
        return !form ? 2 : verb == L"fit" ? fit(*form) : controls(*form);
    }
    if (verb == L"click" && argc == 4) {
        const auto form = formOf(argv[2]);
        return form ? click(*form, utf8(argv[3])) : 2;
    }
    say("usage: panel-remote find SECONDS | resize W H | controls EXE | click EXE NAME | "
        "command ID | close | status | fit EXE | boxes SECONDS COUNT | details SECONDS");
    return 3;
}
