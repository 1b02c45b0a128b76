// SPDX-License-Identifier: MIT
// Windows: the updater's named-mutex lock and execution state; the console's Ctrl-C
// and Ctrl-Break are deferred while the image is written, and closing the console,
// logoff or shutdown wait for the write as long as Windows lets them.
#include "cli/SafeguardedRun.h"
#include "updater/win32/Win32Guards.h"

#include <atomic>
#include <cstring>
#include <io.h>

namespace telmar::cli {

namespace {

std::atomic<const updater::FlashUpdate*> gUpdate{nullptr};
std::atomic<bool> gTold{false};

BOOL WINAPI onConsoleEvent(DWORD event) {
    const updater::FlashUpdate* update = gUpdate.load();
    if (update == nullptr || !update->writing()) {
        return FALSE; // the default: the process ends
    }
    if (!gTold.exchange(true)) {
        static const char newline[] = "\r\n";
        (void)_write(2, newline, sizeof newline - 1);
        (void)_write(2, kInterruptDeferredText,
                     static_cast<unsigned>(std::strlen(kInterruptDeferredText)));
        (void)_write(2, newline, sizeof newline - 1);
    }
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        // The process ends when this returns; Windows waits only a few seconds.
        while (update->writing()) {
            Sleep(100);
        }
    }
    return TRUE;
}

} // namespace

updater::FlashUpdate::Outcome runSafeguarded(const updater::Variant& variant, usb::Driver& driver,
                                             link::Clock& clock, updater::UserInterface& ui,
                                             std::ostream& /*err*/) {
    updater::win32::NamedMutexLock lock;
    updater::win32::ExecutionStateGuard awake(nullptr); // no window: nothing to block shutdown with
    updater::FlashUpdate update(variant, driver, clock, ui, {.lock = &lock, .writeGuard = &awake});
    gUpdate = &update;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    const auto outcome = update.FlashUpdateThread();
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    gUpdate = nullptr;
    return outcome;
}

} // namespace telmar::cli
