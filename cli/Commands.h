// SPDX-License-Identifier: MIT
#pragma once

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
    // The time `status --watch --json` stamps on each change.
    std::function<std::chrono::system_clock::time_point()> now = [] {
        return std::chrono::system_clock::now();
    };
};

// Each returns the program's exit code.
int runList(Context& c);
// With --watch it returns only when the box cannot be found at the start or the
// output is closed (0).
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

} // namespace telmar::cli
