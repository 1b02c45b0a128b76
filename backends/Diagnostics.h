// SPDX-License-Identifier: MIT
#pragma once

#include "backends/ReplayDriver.h"
#include "usb/Driver.h"

#include <iosfwd>
#include <memory>
#include <string_view>

namespace telmar::backends {

// FILE to record the session's driver calls into: a new file, or an existing one
// replaced when TELMAR_TRACE_REPLACE=1.
inline constexpr const char* kTraceVariable = "TELMAR_TRACE";
inline constexpr const char* kTraceReplaceVariable = "TELMAR_TRACE_REPLACE";
// The recorded session the `replay` backend serves.
inline constexpr const char* kReplayVariable = "TELMAR_REPLAY";

// Puts the recorder around `driver` when TELMAR_TRACE names a file or the usb area
// of the debug log is on; otherwise hands `driver` back untouched, so a program
// with neither pays nothing. TELMAR_DEBUG turns the log on for a program that has
// not bound it itself (to standard error). Problems are named on `err`.
std::unique_ptr<usb::Driver> withDiagnostics(std::unique_ptr<usb::Driver> driver,
                                             std::string_view backendName, std::ostream& err);

// The `replay` backend over the file TELMAR_REPLAY names. An unset variable or a
// trace that cannot be read is named on `err`, and the driver then has nothing to
// serve: every call fails.
std::unique_ptr<ReplayDriver> createReplayDriver(const char* path, std::ostream& err,
                                                 ReplayClock clock = steadyReplayClock());

} // namespace telmar::backends
