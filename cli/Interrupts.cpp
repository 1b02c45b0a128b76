// SPDX-License-Identifier: MIT
#include "cli/Interrupts.h"

#include "updater/FlashUpdate.h"

#include <atomic>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace telmar::cli {

namespace {

std::atomic<const updater::FlashUpdate*> gUpdate{nullptr};
std::atomic<bool> gDeferred{false};

constexpr char kDeferredText[] = "\ntelmarctl: the image is being written; telmarctl ends when "
                                 "the write has ended. Do not disconnect the box.\n";

// Async-signal-safe: atomics and one write.
bool deferIfBusy() {
    const updater::FlashUpdate* update = gUpdate.load();
    if (update == nullptr || !update->writing()) {
        return false;
    }
    gDeferred = true;
#ifdef _WIN32
    (void)_write(2, kDeferredText, sizeof kDeferredText - 1);
#else
    (void)!::write(STDERR_FILENO, kDeferredText, sizeof kDeferredText - 1);
#endif
    return true;
}

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        return deferIfBusy() ? TRUE : FALSE;
    }
    return FALSE;
}
#else
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void onSignal(int signal) {
    if (deferIfBusy()) {
        return;
    }
    // Not busy: end as the signal would have ended us, so the exit status says so.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
#endif

} // namespace

InterruptGuard::InterruptGuard(const updater::FlashUpdate& update) {
    gDeferred = false;
    gUpdate = &update;
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : kSignals) {
        ::sigaction(s, &action, nullptr);
    }
#endif
}

InterruptGuard::~InterruptGuard() {
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#else
    for (const int s : kSignals) {
        std::signal(s, SIG_DFL);
    }
#endif
    gUpdate = nullptr;
}

bool InterruptGuard::deferred() const {
    return gDeferred.load();
}

} // namespace telmar::cli
