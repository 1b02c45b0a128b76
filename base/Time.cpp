// SPDX-License-Identifier: MIT
#include "base/Time.h"

#include <cstdio>
#include <ctime>

namespace telmar::base {

namespace {

// `time` through strftime's `pattern`, in UTC or local time, then the milliseconds and
// `msSuffix` unless it is null.
std::string format(std::chrono::system_clock::time_point time, bool utc, const char* pattern,
                   const char* msSuffix) {
    using namespace std::chrono;
    const auto whole = floor<seconds>(time);
    const auto ms = floor<milliseconds>(time) - whole;
    const std::time_t t = system_clock::to_time_t(whole);
    std::tm parts{};
#ifdef _WIN32
    utc ? gmtime_s(&parts, &t) : localtime_s(&parts, &t);
#else
    utc ? gmtime_r(&t, &parts) : localtime_r(&t, &parts);
#endif
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, pattern, &parts);
    if (msSuffix != nullptr) {
        std::snprintf(text + n, sizeof text - n, ".%03d%s", static_cast<int>(ms.count()), msSuffix);
    }
    return text;
}

} // namespace

std::string isoTime(std::chrono::system_clock::time_point time, bool milliseconds) {
    return milliseconds ? format(time, true, "%Y-%m-%dT%H:%M:%S", "Z")
                        : format(time, true, "%Y-%m-%dT%H:%M:%SZ", nullptr);
}

std::string localTimeOfDay(std::chrono::system_clock::time_point time) {
    return format(time, false, "%H:%M:%S", "");
}

} // namespace telmar::base
