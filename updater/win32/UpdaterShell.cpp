// SPDX-License-Identifier: MIT
#include "updater/win32/UpdaterShell.h"

#include "base/Latin1.h"
#include "link/Clock.h"
#include "updater/FlashUpdate.h"
#include "updater/Texts.h"
#include "updater/UserInterface.h"
#include "updater/win32/Win32Guards.h"
#include "updater/win32/resource.h"
#include "usb/VendorDllDriver.h"

#include <memory>

namespace telmar::updater::win32 {

namespace {

using base::widen;

// Posted by the worker when its run is over, so the main thread can offer the
// command again.
constexpr UINT kWorkerEnded = WM_APP + 1;
constexpr int kTextBufferLength = 100;

HINSTANCE instanceHandle = nullptr;
HWND mainWindow = nullptr;
wchar_t windowTitle[kTextBufferLength];
wchar_t windowClassName[kTextBufferLength];

// Draws one line at x 10 and the given y into the main window, blanks included, with
// the window's default font and colours. Safe from the worker thread.
void DrawStatusLine(std::wstring_view text, int y) {
    HDC dc = GetDC(mainWindow);
    TextOutW(dc, kLineX, y, text.data(), static_cast<int>(text.size()));
    ReleaseDC(mainWindow, dc);
}

class Win32UserInterface final : public UserInterface {
  public:
    void drawStatusLine(std::string_view text, int y) override { DrawStatusLine(widen(text), y); }

    // No owner window: the box stops only the worker, never the window.
    void showWarning(std::string_view text, std::string_view caption) override {
        MessageBoxW(nullptr, widen(text).c_str(), widen(caption).c_str(), MB_OK | MB_ICONWARNING);
    }

    void endProcess(int exitCode) override { ExitProcess(static_cast<UINT>(exitCode)); }
};

// What an update needs. Made once and never destroyed: the worker may still be
// running when the message loop returns and the process ends.
struct Updater {
    Updater(const Variant& shown, HWND window, std::unique_ptr<usb::Driver> made)
        : variant(shown), driver(std::move(made)), guard(window),
          update(variant, *driver, clock, ui, {.lock = &lock, .writeGuard = &guard}) {}

    const Variant& variant;
    std::unique_ptr<usb::Driver> driver;
    link::SteadyClock clock;
    Win32UserInterface ui;
    NamedMutexLock lock;
    ExecutionStateGuard guard;
    FlashUpdate update;
    bool running = false;  // main thread only
    bool refusing = false; // main thread only: the refusal box is open
};
Updater* updater = nullptr;

DWORD WINAPI FlashUpdateWorker(LPVOID) {
    updater->update.FlashUpdateThread();
    PostMessageW(mainWindow, kWorkerEnded, 0, 0);
    return 0;
}

// The command is offered while no update runs.
void setRunning(HWND window, bool running) {
    updater->running = running;
    EnableMenuItem(GetMenu(window), IDM_UPDATE_FIRMWARE,
                   MF_BYCOMMAND | (running ? MF_GRAYED : MF_ENABLED));
}

void startUpdate(HWND window) {
    // A second worker would share the device handle and the box's programming mode.
    if (updater->running) {
        return;
    }
    HANDLE thread = CreateThread(nullptr, 0, FlashUpdateWorker, nullptr, 0, nullptr);
    if (thread == nullptr) {
        return;
    }
    CloseHandle(thread);
    setRunning(window, true);
}

// Ending the process while the image is written would leave the box half-flashed:
// say so and keep running. True when the exit is refused.
bool refuseExit() {
    if (!updater->update.writing()) {
        return false;
    }
    if (!updater->refusing) {
        updater->refusing = true;
        MessageBoxW(nullptr, widen(kExitRefusedText).c_str(), widen(kExitRefusedCaption).c_str(),
                    MB_OK | MB_ICONWARNING);
        updater->refusing = false;
    }
    return true;
}

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        // The fourth control names the image; its CRC-32 is the one recorded when the
        // program was built, so the resource leaves it out and it is filled in here.
        HWND control = GetWindow(dialog, GW_CHILD);
        for (int i = 0; i < 3 && control != nullptr; ++i) {
            control = GetWindow(control, GW_HWNDNEXT);
        }
        if (control != nullptr && updater != nullptr) {
            SetWindowTextW(control, widen(aboutImageLine(updater->variant)).c_str());
        }
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

LRESULT CALLBACK UpdaterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_ABOUT:
            DialogBoxParamW(instanceHandle, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutDlgProc,
                            0);
            return 0;
        case IDM_EXIT:
            if (!refuseExit()) {
                DestroyWindow(window);
            }
            return 0;
        case IDM_UPDATE_FIRMWARE:
            startUpdate(window);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    case WM_CLOSE: // the close box and Alt+F4
        return refuseExit() ? 0 : DefWindowProcW(window, message, wParam, lParam);
    case WM_QUERYENDSESSION:
        // Logging off would end the process mid-write just the same.
        return updater != nullptr && updater->update.writing() ? FALSE : TRUE;
    case WM_PAINT: {
        // The lines are drawn once, where they happen; a repaint erases them.
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case kWorkerEnded:
        setRunning(window, false);
        return 0;
    case ExecutionStateGuard::kShutdownBlockMessage:
        ExecutionStateGuard::handleShutdownBlock(window, wParam, lParam);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

int runUpdater(HINSTANCE instance, int showMode, const Variant& variant,
               std::unique_ptr<usb::Driver> (*makeDriver)()) {
    // Without the vendor's library every later step would only say that no box is
    // connected; say what is really missing, before any window opens.
    if (!usb::VendorDllDriver::libraryAvailable()) {
        MessageBoxW(nullptr, widen(missingLibraryText(usb::VendorDllDriver::kLibraryName)).c_str(),
                    widen(kSafetyCaption).c_str(), MB_OK | MB_ICONERROR);
        return kMissingLibraryExitCode;
    }
    LoadStringW(instance, IDS_APP_TITLE, windowTitle, kTextBufferLength);
    LoadStringW(instance, IDS_WINDOW_CLASS, windowClassName, kTextBufferLength);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = UpdaterWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LARGE_ICON));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAIN_MENU);
    windowClass.lpszClassName = windowClassName;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL_ICON));
    RegisterClassExW(&windowClass);
    instanceHandle = instance;

    mainWindow =
        CreateWindowExW(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 300, 200, nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr) {
        return 0;
    }
    // No command reaches the procedure before the message loop runs.
    updater = new Updater(variant, mainWindow, makeDriver());
    ShowWindow(mainWindow, showMode);
    UpdateWindow(mainWindow);
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));

    drawGreeting(updater->ui, variant);

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

} // namespace telmar::updater::win32
