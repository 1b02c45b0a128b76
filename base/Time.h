// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <string>

namespace telmar::base {

// "2026-12-08T18:30:00.123Z": UTC, milliseconds.
std::string isoTime(std::chrono::system_clock::time_point time);
// "2026-12-08T18:30:00Z": UTC, whole seconds.
std::string isoTimeSeconds(std::chrono::system_clock::time_point time);
// "18:30:00.123": the local time of day, milliseconds.
std::string localTimeOfDay(std::chrono::system_clock::time_point time);

} // namespace telmar::base
