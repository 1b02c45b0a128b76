// SPDX-License-Identifier: MIT
#pragma once

// A driver over the simulated box's model whose every call the fuzzer may spoil: a
// failed status, a lost, cut, altered, replaced or padded reply, a short read, a read
// that reports more than it gave, a device string of its choosing. With the input used
// up every call behaves, so a short input is a clean run.

#include "sim/Box.h"
#include "tests/support/VirtualClock.h"
#include "usb/Driver.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

namespace telmar::fuzz {

class FuzzDriver final : public usb::Driver {
  public:
    FuzzDriver(FuzzedDataProvider& in, link::VirtualClock& clock, sim::Box& box)
        : in_(in), clock_(clock), box_(box) {}

    // A reply was altered on its way, or a call failed: the link may rightly fail.
    bool tampered() const { return tampered_; }
    bool failedAny() const { return failed_; }

    usb::Status getNumDevices(std::uint32_t& count) override {
        const auto b = spoil();
        if (b >= kFail && b < kFail + 10) {
            return fail();
        }
        count = b >= 240 ? in_.ConsumeIntegralInRange<std::uint32_t>(0, 4) : 1;
        if (count != 1) {
            tampered_ = true;
        }
        return usb::kSuccess;
    }

    usb::Status getDeviceString(std::uint32_t index, char* buffer, std::uint32_t option) override {
        const auto b = spoil();
        if (b >= kFail && b < kFail + 10) {
            return fail();
        }
        std::string text = index == 0 && option == usb::kStringSerialNumber ? box_.serial() : "x";
        if (b >= 240) {
            text = in_.ConsumeRandomLengthString(usb::kDeviceStringSize - 1);
            tampered_ = true;
        }
        const auto n = std::min(text.size(), usb::kDeviceStringSize - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
        return usb::kSuccess;
    }

    usb::Status open(std::uint32_t /*index*/, usb::Handle& handle) override {
        if (spoil() >= kFail) {
            return fail();
        }
        handle = kHandle;
        open_ = true;
        return usb::kSuccess;
    }

    usb::Status close(usb::Handle handle) override {
        open_ = false;
        return spoil() >= kFail || handle != kHandle ? fail() : usb::kSuccess;
    }

    usb::Status read(usb::Handle handle, void* buffer, std::uint32_t count,
                     std::uint32_t& bytesRead) override {
        bytesRead = 0;
        const auto b = spoil();
        if (!open_ || handle != kHandle || (b >= kFail && b < kFail + 10)) {
            return fail();
        }
        std::size_t n = std::min<std::size_t>(count, rx_.size());
        if (b >= 210 && b < 230) {
            n = std::min<std::size_t>(n, b - 210u);
            tampered_ = true;
        }
        std::copy_n(rx_.begin(), n, static_cast<std::uint8_t*>(buffer));
        rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
        bytesRead = static_cast<std::uint32_t>(n);
        if (b >= 230 && b < 240) {
            bytesRead = in_.ConsumeIntegral<std::uint32_t>(); // a driver that miscounts
            tampered_ = true;
        }
        return usb::kSuccess;
    }

    usb::Status write(usb::Handle handle, const void* buffer, std::uint32_t count,
                      std::uint32_t& bytesWritten) override {
        bytesWritten = 0;
        const auto b = spoil();
        if (!open_ || handle != kHandle || (b >= kFail && b < kFail + 10)) {
            return fail();
        }
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        auto outcome = box_.handleFrame({bytes, count}, clock_.tickMs());
        bytesWritten = count;
        sim::Bytes reply = outcome.reply.value_or(sim::Bytes{});
        if (b >= 210 && b < 220) {
            reply.clear(); // lost
            failed_ = true;
        } else if (b >= 220 && b < 230) {
            reply.resize(std::min<std::size_t>(reply.size(), b - 220u));
            tampered_ = true;
        } else if (b >= 230 && b < 240 && !reply.empty()) {
            reply[in_.ConsumeIntegral<std::uint8_t>() % reply.size()] =
                in_.ConsumeIntegral<std::uint8_t>();
            tampered_ = true;
        } else if (b >= 240 && b < 250) {
            reply = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange(0, 64));
            tampered_ = true;
        } else if (b >= 250) {
            const auto extra = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange(0, 16));
            reply.insert(reply.end(), extra.begin(), extra.end());
            tampered_ = true;
        }
        rx_.insert(rx_.end(), reply.begin(), reply.end());
        return usb::kSuccess;
    }

    usb::Status flushBuffers(usb::Handle handle, std::uint8_t, std::uint8_t flushReceive) override {
        if (!open_ || handle != kHandle || spoil() >= kFail) {
            return fail();
        }
        if (flushReceive != 0) {
            rx_.clear();
        }
        return usb::kSuccess;
    }

    usb::Status setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override {
        readMs_ = readMs;
        writeMs_ = writeMs;
        return usb::kSuccess;
    }

    usb::Status getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) override {
        readMs = readMs_;
        writeMs = writeMs_;
        return usb::kSuccess;
    }

    usb::Status checkRxQueue(usb::Handle handle, std::uint32_t& bytesQueued,
                             std::uint32_t& queueStatus) override {
        clock_.advance(kQueueCheckMs); // so that a wait for a reply that never comes ends
        bytesQueued = 0;
        queueStatus = usb::kRxQueueEmpty;
        const auto b = spoil();
        if (!open_ || handle != kHandle || (b >= kFail && b < kFail + 10)) {
            return fail();
        }
        if (b >= 240) {
            failed_ = true; // says empty with bytes waiting
        }
        bytesQueued = b >= 240 ? 0 : static_cast<std::uint32_t>(rx_.size());
        queueStatus = bytesQueued > 0 ? usb::kRxQueueReady : usb::kRxQueueEmpty;
        return usb::kSuccess;
    }

  private:
    static constexpr usb::Handle kHandle = 0x7E57;
    static constexpr std::uint8_t kFail = 200;
    static constexpr std::uint32_t kQueueCheckMs = 250;

    std::uint8_t spoil() {
        return in_.remaining_bytes() > 0 ? in_.ConsumeIntegral<std::uint8_t>() : 0;
    }
    usb::Status fail() {
        failed_ = true;
        return usb::kDeviceIoFailed;
    }

    FuzzedDataProvider& in_;
    link::VirtualClock& clock_;
    sim::Box& box_;
    std::deque<std::uint8_t> rx_;
    bool open_ = false;
    bool tampered_ = false;
    bool failed_ = false;
    std::uint32_t readMs_ = 0;
    std::uint32_t writeMs_ = 0;
};

} // namespace telmar::fuzz
