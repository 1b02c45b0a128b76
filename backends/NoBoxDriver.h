// SPDX-License-Identifier: MIT
#pragma once

#include "usb/Driver.h"

namespace telmar::backends {

// A bus with nothing on it: what a program sees when the backend it asked for is
// not in this build.
class NoBoxDriver final : public usb::Driver {
  public:
    usb::Status getNumDevices(std::uint32_t& count) override {
        count = 0;
        return usb::kSuccess;
    }
    usb::Status getDeviceString(std::uint32_t, char*, std::uint32_t) override {
        return usb::kDeviceNotFound;
    }
    usb::Status open(std::uint32_t, usb::Handle& handle) override {
        handle = usb::kNoHandle;
        return usb::kDeviceNotFound;
    }
    usb::Status close(usb::Handle) override { return usb::kInvalidHandle; }
    usb::Status read(usb::Handle, void*, std::uint32_t, std::uint32_t& bytesRead) override {
        bytesRead = 0;
        return usb::kInvalidHandle;
    }
    usb::Status write(usb::Handle, const void*, std::uint32_t,
                      std::uint32_t& bytesWritten) override {
        bytesWritten = 0;
        return usb::kInvalidHandle;
    }
    usb::Status flushBuffers(usb::Handle, std::uint8_t, std::uint8_t) override {
        return usb::kInvalidHandle;
    }
    usb::Status setTimeouts(std::uint32_t, std::uint32_t) override { return usb::kSuccess; }
    usb::Status getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) override {
        readMs = 0;
        writeMs = 0;
        return usb::kSuccess;
    }
    usb::Status checkRxQueue(usb::Handle, std::uint32_t& bytesQueued,
                             std::uint32_t& queueStatus) override {
        bytesQueued = 0;
        queueStatus = usb::kRxQueueEmpty;
        return usb::kInvalidHandle;
    }
};

} // namespace telmar::backends
