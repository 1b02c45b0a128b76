// SPDX-License-Identifier: MIT
#include "base/Log.h"

#include "base/Time.h"

#include <chrono>
#include <iostream>

namespace telmar::base {

std::string_view logAreaName(LogArea area) {
    constexpr std::string_view kNames[kLogAreaCount] = {"usb", "link", "backend", "updater",
                                                        "panel"};
    const auto i = static_cast<std::size_t>(area);
    return i < kLogAreaCount ? kNames[i] : "?";
}

void StreamLogSink::write(LogArea area, std::string_view message) {
    const std::string stamp = localTimeOfDay(std::chrono::system_clock::now());
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
