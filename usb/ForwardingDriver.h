// SPDX-License-Identifier: MIT
#pragma once

#include "usb/Driver.h"

namespace telmar::usb {

// Passes every call, and what a driver says of itself, to a driver that someone else
// owns. A decorator derives from it and overrides only the calls it watches.
class ForwardingDriver : public Driver {
  public:
    explicit ForwardingDriver(Driver& inner) : inner_(inner) {}

    Status getNumDevices(std::uint32_t& count) override { return inner_.getNumDevices(count); }
    Status getDeviceString(std::uint32_t index, char* buffer, std::uint32_t option) override {
        return inner_.getDeviceString(index, buffer, option);
    }
    Status open(std::uint32_t index, Handle& handle) override { return inner_.open(index, handle); }
    Status close(Handle handle) override { return inner_.close(handle); }
    Status read(Handle handle, void* buffer, std::uint32_t count,
                std::uint32_t& bytesRead) override {
        return inner_.read(handle, buffer, count, bytesRead);
    }
    Status write(Handle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t& bytesWritten) override {
        return inner_.write(handle, buffer, count, bytesWritten);
    }
    Status flushBuffers(Handle handle, std::uint8_t tx, std::uint8_t rx) override {
        return inner_.flushBuffers(handle, tx, rx);
    }
    Status setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override {
        return inner_.setTimeouts(readMs, writeMs);
    }
    Status getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) override {
        return inner_.getTimeouts(readMs, writeMs);
    }
    Status checkRxQueue(Handle handle, std::uint32_t& queued, std::uint32_t& state) override {
        return inner_.checkRxQueue(handle, queued, state);
    }
    bool simulatedBox() const override { return inner_.simulatedBox(); }
    std::string lastError() const override { return inner_.lastError(); }
    std::string reachProblem() const override { return inner_.reachProblem(); }

  private:
    Driver& inner_;
};

} // namespace telmar::usb
