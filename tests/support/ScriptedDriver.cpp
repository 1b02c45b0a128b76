// SPDX-License-Identifier: MIT
#include "tests/support/ScriptedDriver.h"

#include <algorithm>
#include <cstring>

namespace telmar::test {

using Lock = std::lock_guard<std::recursive_mutex>;

void ScriptedDriver::addDevice(std::optional<std::string> serial, std::string linkName) {
    Lock lock(mutex_);
    devices_.push_back({std::move(serial), std::move(linkName)});
}

void ScriptedDriver::setCountFails(bool fails) {
    Lock lock(mutex_);
    countFails_ = fails;
}

void ScriptedDriver::unplugAll() {
    Lock lock(mutex_);
    devices_.clear();
    handles_.clear();
    rx_.clear();
    pending_.clear();
}

void ScriptedDriver::failCallAfter(Call call, int skip, int times, usb::Status status) {
    Lock lock(mutex_);
    failures_[call] = {skip, times, status};
}

void ScriptedDriver::queueReply(std::vector<std::uint8_t> bytes, std::uint32_t delayMs) {
    Lock lock(mutex_);
    scripted_.push_back(ScriptedReply{std::move(bytes), delayMs});
}

void ScriptedDriver::queueNoReply() {
    Lock lock(mutex_);
    scripted_.push_back(std::nullopt);
}

void ScriptedDriver::setResponder(Responder responder) {
    Lock lock(mutex_);
    responder_ = std::move(responder);
}

std::vector<CallRecord> ScriptedDriver::calls() const {
    Lock lock(mutex_);
    return calls_;
}

std::vector<int> ScriptedDriver::ordinals() const {
    Lock lock(mutex_);
    std::vector<int> result;
    result.reserve(calls_.size());
    for (const auto& c : calls_) {
        result.push_back(static_cast<int>(c.call));
    }
    return result;
}

std::vector<std::vector<std::uint8_t>> ScriptedDriver::writtenFrames() const {
    Lock lock(mutex_);
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& c : calls_) {
        if (c.call == Call::Write) {
            frames.push_back(c.data);
        }
    }
    return frames;
}

void ScriptedDriver::clearCalls() {
    Lock lock(mutex_);
    calls_.clear();
}

int ScriptedDriver::openHandles() const {
    Lock lock(mutex_);
    return static_cast<int>(handles_.size());
}

std::optional<usb::Status> ScriptedDriver::takeFailure(Call call) {
    auto it = failures_.find(call);
    if (it == failures_.end() || it->second.times == 0) {
        return std::nullopt;
    }
    if (it->second.skip > 0) {
        --it->second.skip;
        return std::nullopt;
    }
    if (it->second.times > 0) {
        --it->second.times;
    }
    return it->second.status;
}

void ScriptedDriver::record(CallRecord rec) {
    calls_.push_back(std::move(rec));
}

void ScriptedDriver::releaseDueReplies() {
    const std::uint32_t now = clock_.tickMs();
    // Due when readyAt is not in the future; wrap-safe over half the counter's range.
    while (!pending_.empty() && link::elapsedMs(pending_.front().readyAt, now) < 0x80000000u) {
        rx_.insert(rx_.end(), pending_.front().bytes.begin(), pending_.front().bytes.end());
        pending_.pop_front();
    }
}

bool ScriptedDriver::knownHandle(usb::Handle handle) const {
    return handles_.count(handle) != 0;
}

usb::Status ScriptedDriver::getNumDevices(std::uint32_t& count) {
    Lock lock(mutex_);
    record({.call = Call::GetNumDevices});
    if (countFails_) {
        return usb::kDeviceIoFailed;
    }
    if (auto failure = takeFailure(Call::GetNumDevices)) {
        return *failure;
    }
    count = static_cast<std::uint32_t>(devices_.size());
    return usb::kSuccess;
}

usb::Status ScriptedDriver::getDeviceString(std::uint32_t index, char* buffer,
                                            std::uint32_t option) {
    Lock lock(mutex_);
    record({.call = Call::GetDeviceString, .index = index, .option = option});
    if (auto failure = takeFailure(Call::GetDeviceString)) {
        return *failure;
    }
    if (index >= devices_.size()) {
        return usb::kDeviceNotFound;
    }
    const Device& device = devices_[index];
    std::string text;
    if (option == usb::kStringSerialNumber) {
        if (!device.serial) {
            return usb::kDeviceIoFailed;
        }
        text = *device.serial;
    } else if (option == usb::kStringLinkName) {
        text = device.linkName;
    } else {
        return usb::kInvalidParameter;
    }
    text.resize(std::min(text.size(), usb::kDeviceStringSize - 1));
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return usb::kSuccess;
}

usb::Status ScriptedDriver::open(std::uint32_t index, usb::Handle& handle) {
    Lock lock(mutex_);
    record({.call = Call::Open, .index = index});
    if (auto failure = takeFailure(Call::Open)) {
        if (failedOpenHandle_) {
            handle = *failedOpenHandle_;
        }
        return *failure;
    }
    if (index >= devices_.size()) {
        return usb::kDeviceNotFound;
    }
    handle = nextHandle_++;
    handles_[handle] = index;
    return usb::kSuccess;
}

usb::Status ScriptedDriver::close(usb::Handle handle) {
    Lock lock(mutex_);
    record({.call = Call::Close, .handle = handle});
    if (auto failure = takeFailure(Call::Close)) {
        return *failure;
    }
    return handles_.erase(handle) != 0 ? usb::kSuccess : usb::kInvalidHandle;
}

usb::Status ScriptedDriver::read(usb::Handle handle, void* buffer, std::uint32_t count,
                                 std::uint32_t& bytesRead) {
    Lock lock(mutex_);
    CallRecord rec{.call = Call::Read, .handle = handle, .count = count};
    if (auto failure = takeFailure(Call::Read)) {
        record(std::move(rec));
        return *failure;
    }
    if (!knownHandle(handle)) {
        record(std::move(rec));
        return usb::kInvalidHandle;
    }
    releaseDueReplies();
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, rx_.size()));
    std::memcpy(buffer, rx_.data(), n);
    rec.data.assign(rx_.begin(), rx_.begin() + n);
    rx_.erase(rx_.begin(), rx_.begin() + n);
    bytesRead = reportedReadCount_.value_or(n);
    record(std::move(rec));
    return usb::kSuccess;
}

usb::Status ScriptedDriver::write(usb::Handle handle, const void* buffer, std::uint32_t count,
                                  std::uint32_t& bytesWritten) {
    Lock lock(mutex_);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::vector<std::uint8_t> frame(bytes, bytes + count);
    record({.call = Call::Write, .handle = handle, .count = count, .data = frame});
    if (auto failure = takeFailure(Call::Write)) {
        return *failure;
    }
    if (!knownHandle(handle)) {
        return usb::kInvalidHandle;
    }
    std::optional<ScriptedReply> reply;
    if (!scripted_.empty()) {
        reply = std::move(scripted_.front());
        scripted_.pop_front();
    } else if (responder_) {
        reply = responder_(frame);
    }
    if (reply) {
        pending_.push_back({std::move(reply->bytes), clock_.tickMs() + reply->delayMs});
    }
    bytesWritten = count;
    return usb::kSuccess;
}

usb::Status ScriptedDriver::flushBuffers(usb::Handle handle, std::uint8_t flushTransmit,
                                         std::uint8_t flushReceive) {
    Lock lock(mutex_);
    record({.call = Call::Flush, .option = flushReceive, .handle = handle, .count = flushTransmit});
    if (auto failure = takeFailure(Call::Flush)) {
        return *failure;
    }
    if (!knownHandle(handle)) {
        return usb::kInvalidHandle;
    }
    if (flushReceive) {
        rx_.clear();
        pending_.clear();
    }
    return usb::kSuccess;
}

usb::Status ScriptedDriver::setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    Lock lock(mutex_);
    record({.call = Call::SetTimeouts, .readMs = readMs, .writeMs = writeMs});
    if (auto failure = takeFailure(Call::SetTimeouts)) {
        return *failure;
    }
    readTimeout_ = readMs;
    writeTimeout_ = writeMs;
    return usb::kSuccess;
}

usb::Status ScriptedDriver::getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) {
    Lock lock(mutex_);
    record({.call = Call::GetTimeouts});
    if (auto failure = takeFailure(Call::GetTimeouts)) {
        return *failure;
    }
    readMs = readTimeout_;
    writeMs = writeTimeout_;
    return usb::kSuccess;
}

usb::Status ScriptedDriver::checkRxQueue(usb::Handle handle, std::uint32_t& bytesQueued,
                                         std::uint32_t& queueStatus) {
    Lock lock(mutex_);
    record({.call = Call::CheckRxQueue, .handle = handle});
    clock_.advance(queueCheckCostMs_);
    if (auto failure = takeFailure(Call::CheckRxQueue)) {
        return *failure;
    }
    if (!knownHandle(handle)) {
        return usb::kInvalidHandle;
    }
    releaseDueReplies();
    bytesQueued = static_cast<std::uint32_t>(rx_.size());
    queueStatus = rx_.empty() ? usb::kRxQueueEmpty : usb::kRxQueueReady;
    return usb::kSuccess;
}

} // namespace telmar::test
