// SPDX-License-Identifier: MIT
#pragma once

#include "backends/TraceFormat.h"
#include "usb/Driver.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace telmar::backends {

// Where a recorder hands each finished entry.
class EntrySink {
  public:
    virtual ~EntrySink() = default;
    virtual void take(const TraceEntry& entry) = 0;
};

// Writes the header at once and then one line per entry, flushed, so a trace
// survives a crash of the program that writes it.
class TraceWriter final : public EntrySink {
  public:
    TraceWriter(std::ostream& out, const TraceHeader& header);
    void take(const TraceEntry& entry) override;

  private:
    std::ostream& out_;
};

// Logs each entry as one line of the usb area of the debug log.
class LogEntrySink final : public EntrySink {
  public:
    void take(const TraceEntry& entry) override;
};

// Milliseconds on a monotonic clock.
using TickSource = std::function<std::uint32_t()>;
TickSource steadyTicks();

// A decorator around any backend that reports every call, with its arguments,
// results and bytes, to its sinks. It passes every call and result through
// unchanged. Back-to-back receive-queue checks with the same result become one
// entry with a count and a span, handed on when a different call or result comes
// (or at flush()).
class TraceRecorder final : public usb::Driver {
  public:
    TraceRecorder(std::unique_ptr<usb::Driver> inner, std::vector<std::unique_ptr<EntrySink>> sinks,
                  TickSource ticks = steadyTicks());
    ~TraceRecorder() override;

    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    // Hands on a pending run of queue checks.
    void flush();

    TELMAR_USB_DRIVER_CALLS;
    std::string lastError() const override { return inner_->lastError(); }
    std::string reachProblem() const override { return inner_->reachProblem(); }
    bool simulatedBox() const override { return inner_->simulatedBox(); }

  private:
    // Stamps the entry and hands it on; `status` is returned for convenience.
    usb::Status emit(TraceEntry entry, std::uint32_t startMs);
    void handOn(const TraceEntry& entry);
    std::uint32_t now() const;

    std::unique_ptr<usb::Driver> inner_;
    std::vector<std::unique_ptr<EntrySink>> sinks_;
    TickSource ticks_;
    std::uint32_t startMs_;
    std::mutex mutex_;
    std::optional<TraceEntry> pendingChecks_;
};

} // namespace telmar::backends
