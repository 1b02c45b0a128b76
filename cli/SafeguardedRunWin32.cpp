// SPDX-License-Identifier: MIT
// Windows: Ctrl-C and Ctrl-Break in the console are deferred while the image is
// written.
#include "cli/SafeguardedRun.h"

#include <atomic>
#include <io.h>
#include <windows.h>

namespace telmar::cli {

namespace {

std::atomic<const updater::FlashUpdate*> gUpdate{nullptr};
std::atomic<bool> gTold{false};

BOOL WINAPI onConsoleEvent(DWORD event) {
    const updater::FlashUpdate* update = gUpdate.load();
    if ((event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) || update == nullptr ||
        !update->writing()) {
        return FALSE; // the default: the process ends
    }
    if (!gTold.exchange(true)) {
        static const char text[] = "\r\n";
        (void)_write(2, text, sizeof text - 1);
        (void)_write(2, kInterruptDeferredText,
                     static_cast<unsigned>(strlen(kInterruptDeferredText)));
        (void)_write(2, text, sizeof text - 1);
    }
    return TRUE;
}

} // namespace

updater::FlashUpdate::Outcome runSafeguarded(const updater::Variant& variant, usb::Driver& driver,
                                             link::Clock& clock, updater::UserInterface& ui,
                                             std::ostream& /*err*/) {
    updater::FlashUpdate update(variant, driver, clock, ui);
    gUpdate = &update;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    const auto outcome = update.FlashUpdateThread();
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    gUpdate = nullptr;
    return outcome;
}

} // namespace telmar::cli
