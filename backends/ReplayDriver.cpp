// SPDX-License-Identifier: MIT
#include "backends/ReplayDriver.h"

#include "backends/TraceRecorder.h"
#include "base/Log.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ostream>
#include <thread>

namespace telmar::backends {

namespace {
constexpr std::uint32_t kBeyondRecordingMs = 1;
// The longest either link waits for a reply: a run of checks that claims more was not
// recorded by them, and is replayed over this at most.
constexpr std::uint32_t kMaxRunSpanMs = 4000;

std::uint32_t spanOf(const TraceEntry& run) {
    return std::min(run.spanMs, kMaxRunSpanMs);
}

// What a call gets once the replay has stopped: a failure that hands out nothing.
const TraceEntry kNotPlayed{.status = usb::kDeviceIoFailed};

std::string entryName(std::size_t index) {
    return "entry " + std::to_string(index + 1) + " (line " + std::to_string(index + 2) + ")";
}
} // namespace

ReplayClock steadyReplayClock() {
    return ReplayClock{steadyTicks(), [](std::uint32_t ms) {
                           std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                       }};
}

ReplayDriver::ReplayDriver(Trace trace, std::ostream& err, ReplayClock clock)
    : trace_(std::move(trace)), err_(err), clock_(std::move(clock)) {}

ReplayDriver::~ReplayDriver() {
    if (unplayed() > 0) {
        err_ << "replay: " << unplayedReport() << std::endl;
    }
}

std::optional<std::string> ReplayDriver::mismatch() const {
    std::lock_guard lock(mutex_);
    return mismatch_;
}

std::span<const TraceEntry> ReplayDriver::remaining() const {
    std::lock_guard lock(mutex_);
    const std::size_t from = std::min(next_, trace_.entries.size());
    return std::span<const TraceEntry>(trace_.entries).subspan(from);
}

std::string ReplayDriver::unplayedReport() const {
    const auto left = remaining();
    if (left.empty()) {
        return "every call played";
    }
    const std::size_t first = trace_.entries.size() - left.size();
    return std::to_string(left.size()) + " calls left unplayed, from " + entryName(first) + ": " +
           describeCall(left.front());
}

std::string ReplayDriver::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

void ReplayDriver::fail(std::string message) {
    mismatch_ = message;
    lastError_ = message;
    err_ << "replay: " << message << std::endl;
    TELMAR_LOG(base::LogArea::Backend, "replay: " + message);
}

void ReplayDriver::paceRun(const TraceEntry& run) {
    ++runServed_;
    const std::uint32_t elapsed = clock_.tickMs() - runStartMs_;
    std::uint32_t target = 0;
    if (runServed_ < run.repeat) {
        target =
            static_cast<std::uint32_t>(std::uint64_t{runServed_} * spanOf(run) / (run.repeat - 1));
    } else if (run.number == 0 || run.status != usb::kSuccess) {
        target = elapsed + kBeyondRecordingMs;
    }
    if (target > elapsed) {
        clock_.sleepMs(target - elapsed);
    }
}

const TraceEntry& ReplayDriver::play(const TraceEntry& actual) {
    // The entries never change, so what play() returns may be read after the lock.
    std::lock_guard lock(mutex_);
    if (mismatch_) {
        lastError_ = "replay stopped at the first mismatch";
        return kNotPlayed;
    }
    if (run_) {
        const TraceEntry& current = trace_.entries[*run_];
        const bool moreOfRun = actual.call == DriverCall::CheckRxQueue && sameCall(current, actual);
        if (moreOfRun) {
            const bool nextIsCheck =
                next_ < trace_.entries.size() && sameCall(trace_.entries[next_], actual);
            const std::uint32_t elapsed = clock_.tickMs() - runStartMs_;
            if (!nextIsCheck || elapsed < spanOf(current)) {
                paceRun(current);
                lastError_ = current.error;
                return current;
            }
        }
        run_.reset();
    }
    if (next_ >= trace_.entries.size()) {
        fail("the program called " + describeCall(actual) + " after the last entry (" +
             std::to_string(trace_.entries.size()) + ")");
        return kNotPlayed;
    }
    const TraceEntry& expected = trace_.entries[next_];
    if (!sameCall(expected, actual)) {
        fail(entryName(next_) + ": expected " + describeCall(expected) +
             " but the program called " + describeCall(actual));
        return kNotPlayed;
    }
    ++next_;
    lastError_ = expected.error;
    if (expected.call == DriverCall::CheckRxQueue) {
        run_ = next_ - 1;
        runStartMs_ = clock_.tickMs();
        runServed_ = 0;
        paceRun(expected);
    }
    return expected;
}

usb::Status ReplayDriver::getNumDevices(std::uint32_t& count) {
    const TraceEntry& e = play({.call = DriverCall::GetNumDevices});
    if (e.status == usb::kSuccess) {
        count = e.number;
    }
    return e.status;
}

usb::Status ReplayDriver::getDeviceString(std::uint32_t index, char* buffer, std::uint32_t option) {
    const TraceEntry& e =
        play({.call = DriverCall::GetDeviceString, .index = index, .option = option});
    if (e.status == usb::kSuccess && buffer != nullptr) {
        usb::copyDeviceString(buffer, e.text);
    }
    return e.status;
}

usb::Status ReplayDriver::open(std::uint32_t index, usb::Handle& handle) {
    const TraceEntry& e = play({.call = DriverCall::Open, .index = index});
    handle = e.handle;
    return e.status;
}

usb::Status ReplayDriver::close(usb::Handle handle) {
    return play({.call = DriverCall::Close, .handle = handle}).status;
}

usb::Status ReplayDriver::read(usb::Handle handle, void* buffer, std::uint32_t count,
                               std::uint32_t& bytesRead) {
    const TraceEntry& e = play({.call = DriverCall::Read, .handle = handle, .count = count});
    if (buffer != nullptr && !e.bytes.empty()) {
        std::memcpy(buffer, e.bytes.data(), std::min<std::size_t>(e.bytes.size(), count));
    }
    bytesRead = e.number;
    return e.status;
}

usb::Status ReplayDriver::write(usb::Handle handle, const void* buffer, std::uint32_t count,
                                std::uint32_t& bytesWritten) {
    TraceEntry actual{.call = DriverCall::Write, .handle = handle, .count = count};
    if (buffer != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        actual.bytes.assign(bytes, bytes + count);
    }
    const TraceEntry& e = play(actual);
    bytesWritten = e.number;
    return e.status;
}

usb::Status ReplayDriver::flushBuffers(usb::Handle handle, std::uint8_t flushTransmit,
                                       std::uint8_t flushReceive) {
    return play({.call = DriverCall::Flush,
                 .handle = handle,
                 .flushTransmit = flushTransmit,
                 .flushReceive = flushReceive})
        .status;
}

usb::Status ReplayDriver::setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    return play({.call = DriverCall::SetTimeouts, .readMs = readMs, .writeMs = writeMs}).status;
}

usb::Status ReplayDriver::getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) {
    const TraceEntry& e = play({.call = DriverCall::GetTimeouts});
    if (&e != &kNotPlayed) {
        readMs = e.readMs;
        writeMs = e.writeMs;
    }
    return e.status;
}

usb::Status ReplayDriver::checkRxQueue(usb::Handle handle, std::uint32_t& bytesQueued,
                                       std::uint32_t& queueStatus) {
    const TraceEntry& e = play({.call = DriverCall::CheckRxQueue, .handle = handle});
    bytesQueued = e.number;
    queueStatus = e.queueStatus;
    return e.status;
}

} // namespace telmar::backends
