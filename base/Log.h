// SPDX-License-Identifier: MIT
#pragma once

#include "base/Hex.h" // hexBytes, for the lines that show bytes

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>

// The debug log of the Qt-free layers. Off unless a program installs a sink: a Qt
// program binds it to its logging categories, a console program to standard error.
// Callers test logEnabled() before composing a line, so a program that logs nothing
// pays one atomic load per call site.
namespace telmar::base {

enum class LogArea : std::uint8_t { Usb, Link, Backend, Updater, Panel };
inline constexpr std::size_t kLogAreaCount = 5;

// "usb", "link", "backend", "updater", "panel": the category is "telmar.<name>".
std::string_view logAreaName(LogArea area);

class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual bool enabled(LogArea area) const = 0;
    // One event, without a newline; the sink adds the time stamp.
    virtual void write(LogArea area, std::string_view message) = 0;
};

namespace detail {
inline std::atomic<LogSink*> logSink{nullptr};
} // namespace detail

// The sink lives as long as it is installed; nullptr turns the log off.
inline void setLogSink(LogSink* sink) {
    detail::logSink.store(sink, std::memory_order_release);
}

inline bool logSinkInstalled() {
    return detail::logSink.load(std::memory_order_acquire) != nullptr;
}

inline bool logEnabled(LogArea area) {
    LogSink* sink = detail::logSink.load(std::memory_order_acquire);
    return sink != nullptr && sink->enabled(area);
}

inline void logWrite(LogArea area, std::string_view message) {
    if (LogSink* sink = detail::logSink.load(std::memory_order_acquire); sink != nullptr) {
        sink->write(area, message);
    }
}

// Writes "HH:MM:SS.mmm telmar.<area>: message" lines to a stream, for every area.
class StreamLogSink final : public LogSink {
  public:
    explicit StreamLogSink(std::ostream& out) : out_(out) {}
    bool enabled(LogArea) const override { return true; }
    void write(LogArea area, std::string_view message) override;

  private:
    std::ostream& out_;
    std::mutex mutex_;
};

// TELMAR_DEBUG set to anything but "" or "0".
bool debugRequested(const char* value);
inline constexpr const char* kDebugVariable = "TELMAR_DEBUG";

// For console programs (and a -v switch): log every area to standard error, or stop.
void logToStandardError(bool on);

} // namespace telmar::base

// Composes the message only when its area is logged.
#define TELMAR_LOG(area, message)                                                                  \
    do {                                                                                           \
        if (::telmar::base::logEnabled(area)) {                                                    \
            ::telmar::base::logWrite(area, message);                                               \
        }                                                                                          \
    } while (false)
