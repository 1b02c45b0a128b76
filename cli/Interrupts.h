// SPDX-License-Identifier: MIT
#pragma once

namespace telmar::updater {
class FlashUpdate;
}

namespace telmar::cli {

// Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break) end the program at once,
// except while `update` is writing the image: then the interrupt is noted, one line says so on
// standard error, and the program goes on. One guard at a time.
class InterruptGuard {
  public:
    explicit InterruptGuard(const updater::FlashUpdate& update);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // An interrupt came while the image was being written.
    bool deferred() const;
};

} // namespace telmar::cli
