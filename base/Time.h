// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <string>

namespace telmar::base {

// "2026-12-08T18:30:00.123Z" in UTC, or "2026-12-08T18:30:00Z" without the milliseconds.
std::string isoTime(std::chrono::system_clock::time_point time, bool milliseconds = true);
// "18:30:00.123": the local time of day.
std::string localTimeOfDay(std::chrono::system_clock::time_point time);

} // namespace telmar::base
