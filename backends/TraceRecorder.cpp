// SPDX-License-Identifier: MIT
#include "backends/TraceRecorder.h"

#include "base/Log.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ostream>

namespace telmar::backends {

TraceWriter::TraceWriter(std::ostream& out, const TraceHeader& header) : out_(out) {
    out_ << formatHeader(header) << '\n' << std::flush;
}

void TraceWriter::take(const TraceEntry& entry) {
    out_ << formatEntry(entry) << '\n' << std::flush;
}

void LogEntrySink::take(const TraceEntry& entry) {
    TELMAR_LOG(base::LogArea::Usb, describeCall(entry) + " " + describeResult(entry));
}

TickSource steadyTicks() {
    return [] {
        using namespace std::chrono;
        return static_cast<std::uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    };
}

TraceRecorder::TraceRecorder(std::unique_ptr<usb::Driver> inner,
                             std::vector<std::unique_ptr<EntrySink>> sinks, TickSource ticks)
    : inner_(std::move(inner)), sinks_(std::move(sinks)), ticks_(std::move(ticks)),
      startMs_(ticks_()) {}

TraceRecorder::~TraceRecorder() {
    flush();
}

void TraceRecorder::flush() {
    std::lock_guard lock(mutex_);
    if (pendingChecks_) {
        handOn(*pendingChecks_);
        pendingChecks_.reset();
    }
}

std::uint32_t TraceRecorder::now() const {
    return ticks_() - startMs_;
}

void TraceRecorder::handOn(const TraceEntry& entry) {
    for (auto& sink : sinks_) {
        sink->take(entry);
    }
}

usb::Status TraceRecorder::emit(TraceEntry entry, std::uint32_t startMs) {
    entry.atMs = startMs;
    if (entry.status != usb::kSuccess) {
        entry.error = inner_->lastError();
    }
    std::lock_guard lock(mutex_);
    if (entry.call == DriverCall::CheckRxQueue) {
        if (pendingChecks_ && sameCall(*pendingChecks_, entry) &&
            sameResult(*pendingChecks_, entry) && pendingChecks_->error == entry.error) {
            ++pendingChecks_->repeat;
            pendingChecks_->spanMs = entry.atMs - pendingChecks_->atMs;
            return entry.status;
        }
        if (pendingChecks_) {
            handOn(*pendingChecks_);
        }
        pendingChecks_ = std::move(entry);
        return pendingChecks_->status;
    }
    if (pendingChecks_) {
        handOn(*pendingChecks_);
        pendingChecks_.reset();
    }
    handOn(entry);
    return entry.status;
}

usb::Status TraceRecorder::getNumDevices(std::uint32_t& count) {
    const std::uint32_t at = now();
    TraceEntry e{.call = DriverCall::GetNumDevices};
    e.status = inner_->getNumDevices(count);
    e.number = count;
    return emit(std::move(e), at);
}

usb::Status TraceRecorder::getDeviceString(std::uint32_t index, char* buffer,
                                           std::uint32_t option) {
    const std::uint32_t at = now();
    TraceEntry e{.call = DriverCall::GetDeviceString, .index = index, .option = option};
    e.status = inner_->getDeviceString(index, buffer, option);
    if (e.status == usb::kSuccess && buffer != nullptr) {
        e.text.assign(buffer, strnlen(buffer, usb::kDeviceStringSize - 1));
    }
    return emit(std::move(e), at);
}

usb::Status TraceRecorder::open(std::uint32_t index, usb::Handle& handle) {
    const std::uint32_t at = now();
    TraceEntry e{.call = DriverCall::Open, .index = index};
    e.status = inner_->open(index, handle);
    e.handle = handle;
    return emit(std::move(e), at);
}

usb::Status TraceRecorder::close(usb::Handle handle) {
    const std::uint32_t at = now();
    TraceEntry e{.call = DriverCall::Close, .handle = handle};
    e.status = inner_->close(handle);
    return emit(std::move(e), at);
}

usb::Status TraceRecorder::read(usb::Handle handle, void* buffer, std::uint32_t count,
                                std::uint32_t& bytesRead) {
    const std::uint32_t at = now();
    TraceEntry e{.call = DriverCall::Read, .handle = handle, .count = count};
    e.status = inner_->read(handle, buffer, count, bytesRead);
    e.number = bytesRead;
    if (buffer != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        e.bytes.assign(bytes, bytes + std::min(bytesRead, count));
    }
    return emit(std::move(e), at);
}

usb::Status TraceRecorder::write(usb::Handle handle, const void* buffer, std::uint32_t count,
                                 std::uint32_t& bytesWritten) {
    const std::uint32_t at = now();
    TraceEntry e{.call = DriverCall::Write, .handle = handle, .count = count};
    if (buffer != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        e.bytes.assign(bytes, bytes + count);
    }
    e.status = inner_->write(handle, buffer, count, bytesWritten);
    e.number = bytesWritten;
    return emit(std::move(e), at);
}

usb::Status TraceRecorder::flushBuffers(usb::Handle handle, std::uint8_t flushTransmit,
                                        std::uint8_t flushReceive) {
    const std::uint32_t at = now();
    TraceEntry e{.call = DriverCall::Flush,
                 .handle = handle,
                 .flushTransmit = flushTransmit,
                 .flushReceive = flushReceive};
    e.status = inner_->flushBuffers(handle, flushTransmit, flushReceive);
    return emit(std::move(e), at);
}

usb::Status TraceRecorder::setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    const std::uint32_t at = now();
    TraceEntry e{.call = DriverCall::SetTimeouts, .readMs = readMs, .writeMs = writeMs};
    e.status = inner_->setTimeouts(readMs, writeMs);
    return emit(std::move(e), at);
}

usb::Status TraceRecorder::getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) {
    const std::uint32_t at = now();
    TraceEntry e{.call = DriverCall::GetTimeouts};
    e.status = inner_->getTimeouts(readMs, writeMs);
    e.readMs = readMs;
    e.writeMs = writeMs;
    return emit(std::move(e), at);
}

usb::Status TraceRecorder::checkRxQueue(usb::Handle handle, std::uint32_t& bytesQueued,
                                        std::uint32_t& queueStatus) {
    const std::uint32_t at = now();
    TraceEntry e{.call = DriverCall::CheckRxQueue, .handle = handle};
    e.status = inner_->checkRxQueue(handle, bytesQueued, queueStatus);
    e.number = bytesQueued;
    e.queueStatus = queueStatus;
    return emit(std::move(e), at);
}

} // namespace telmar::backends
