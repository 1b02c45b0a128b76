// SPDX-License-Identifier: MIT
#pragma once

#include "backends/TraceFormat.h"
#include "usb/Driver.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace telmar::backends {

// The program's clock, as the replay needs it: a millisecond tick and a sleep.
struct ReplayClock {
    std::function<std::uint32_t()> tickMs;
    std::function<void(std::uint32_t)> sleepMs;
};
ReplayClock steadyReplayClock();

// Serves a recorded session strictly in order. Each call must match the next entry
// (function, arguments, bytes written) and gets the recorded results. The first
// call that does not match fails with kDeviceIoFailed, is named on `err` with the
// entry number, what was expected and what came, and every later call fails too.
//
// A run of folded queue checks is served by time on the program's clock: the same
// result for every check, the checks spread over the run's span by sleeping as the
// recording's did, until the span has passed, when a following check of the same
// handle moves on to the next entry; any other call moves on at once. A program
// that keeps checking beyond the recording (its own wait not yet over) gets the
// same result, a millisecond apart. Entries still unplayed
// when the driver is destroyed are named on `err`.
class ReplayDriver final : public usb::Driver {
  public:
    ReplayDriver(Trace trace, std::ostream& err, ReplayClock clock = steadyReplayClock());
    ~ReplayDriver() override;

    ReplayDriver(const ReplayDriver&) = delete;
    ReplayDriver& operator=(const ReplayDriver&) = delete;

    const TraceHeader& header() const { return trace_.header; }
    // The first mismatch, "entry 12 (line 13): expected ... but the program called ...".
    std::optional<std::string> mismatch() const;
    // Entries not yet served, the current run of checks not counted once begun.
    std::span<const TraceEntry> remaining() const;
    std::size_t unplayed() const { return remaining().size(); }
    // "3 calls left unplayed, from entry 40 (line 41): close(handle 0x1000)".
    std::string unplayedReport() const;

    TELMAR_USB_DRIVER_CALLS;
    std::string lastError() const override;
    // What the recording's header says: a replay stands for the box it was recorded on.
    bool simulatedBox() const override { return trace_.header.simulatedBox; }

  private:
    // The recorded entry for this call; after a mismatch, one that fails with
    // kDeviceIoFailed and hands out nothing. Takes the lock.
    const TraceEntry& play(const TraceEntry& actual);
    void fail(std::string message);

    Trace trace_;
    std::ostream& err_;
    ReplayClock clock_;
    mutable std::mutex mutex_;
    std::size_t next_ = 0;
    // Spreads a run's checks over its span, as the recording had them.
    void paceRun(const TraceEntry& run);

    // The run of checks being served: its entry index, when its first check came
    // and how many checks it has served.
    std::optional<std::size_t> run_;
    std::uint32_t runStartMs_ = 0;
    std::uint32_t runServed_ = 0;
    std::optional<std::string> mismatch_;
    std::string lastError_;
};

} // namespace telmar::backends
