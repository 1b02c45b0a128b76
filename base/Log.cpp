// SPDX-License-Identifier: MIT
#include "base/Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace telmar::base {

std::string_view logAreaName(LogArea area) {
    constexpr std::string_view kNames[kLogAreaCount] = {"usb", "link", "backend", "updater",
                                                        "panel"};
    const auto i = static_cast<std::size_t>(area);
    return i < kLogAreaCount ? kNames[i] : "?";
}

void StreamLogSink::write(LogArea area, std::string_view message) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms));
    std::lock_guard lock(mutex_);
    out_ << stamp << " telmar." << logAreaName(area) << ": " << message << '\n' << std::flush;
}

bool debugRequested(const char* value) {
    return value != nullptr && value[0] != '\0' && std::string_view(value) != "0";
}

void logToStandardError(bool on) {
    static StreamLogSink standardError(std::cerr);
    setLogSink(on ? &standardError : nullptr);
}

} // namespace telmar::base
