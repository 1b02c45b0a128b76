// SPDX-License-Identifier: MIT
#pragma once

#include "cli/Deadline.h"
#include "cli/Options.h"
#include "link/Clock.h"
#include "usb/Driver.h"

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>

namespace telmar::cli {

// What every command runs with. Results go to `out`, diagnostics to `err`.
struct Context {
    const Options& options;
    usb::Driver& driver;
    link::Clock& clock;
    std::ostream& out;
    std::ostream& err;
    // True once nobody reads `out` any more (the reader of a pipe has gone): --watch
    // then ends at once and gives the box back rather than at its next change.
    std::function<bool()> outputClosed = [] { return false; };
    // The clock under --timeout, when there is one: sessions abandon their link when
    // it expires, and a command that finds it expired prints no result.
    DeadlineClock* deadline = nullptr;
    // The time `status --watch --json` stamps on each change.
    std::function<std::chrono::system_clock::time_point()> now = [] {
        return std::chrono::system_clock::now();
    };

    bool timedOut() const { return deadline != nullptr && deadline->expired(); }
};

// Each returns the program's exit code.
int runList(Context& c);
// With --watch it returns only when the box cannot be found at the start, the output
// is closed (0) or the time is up (1). A box that leaves meanwhile is announced once
// and looked for every kWatchPeriodMs; when it is back the whole status is printed.
int runStatus(Context& c);
int runGet(Context& c);
int runSet(Context& c);
int runHpd(Context& c);

struct Snapshot;
// What `status --json` prints for a snapshot, without the newline: the contract
// docs/telmarctl-status.schema.json describes.
std::string snapshotJson(const Snapshot& snapshot);

// The control panel's poll period, which --watch keeps.
inline constexpr std::uint32_t kWatchPeriodMs = 3000;
// How often --watch looks whether its output is still read while it waits.
inline constexpr std::uint32_t kWatchOutputCheckMs = 50;

// What --watch says when the box has left the bus (the panel's words), and when it is
// back.
inline constexpr std::string_view kWatchGoneText = "TELMAR disconnected";
inline constexpr std::string_view kWatchBackText = "TELMAR connected";
// The lines `set gui-control` and `hpd` print; the panel confirms neither.
inline constexpr std::string_view kGuiControlOnText = "GUI control on";
inline constexpr std::string_view kGuiControlOffText = "GUI control off";
inline constexpr std::string_view kHpdSentText = "HPD/reset pulse sent";

} // namespace telmar::cli
