// SPDX-License-Identifier: MIT
#pragma once

#include "cli/Commands.h"
#include "usb/Driver.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace telmar::cli {

// What only the program knows: the backend, why it was chosen, the version, and how a
// session is recorded (the recorder is the composition root's).
struct DoctorSetup {
    std::string backend;    // "usb", "sim", "replay"
    std::string backendWhy; // "the default", "TELMAR_USB_BACKEND=sim", "--backend sim"
    std::string version;
    // The driver calls made through the returned driver go to `trace` in the trace format.
    std::function<std::unique_ptr<usb::Driver>(usb::Driver& inner, std::ostream& trace)> record;
};

// telmarctl doctor [--json] [--report FILE]. 0 a box is usable, 1 a problem was found,
// 3 no box is there.
int runDoctor(Context& c, const DoctorSetup& setup);

// Every call passed on to a driver that someone else owns (a recorder owns its inner
// driver; the doctor's belongs to the program).
class BorrowedDriver final : public usb::Driver {
  public:
    explicit BorrowedDriver(usb::Driver& inner) : inner_(inner) {}
    usb::Status getNumDevices(std::uint32_t& count) override { return inner_.getNumDevices(count); }
    usb::Status getDeviceString(std::uint32_t index, char* buffer, std::uint32_t option) override {
        return inner_.getDeviceString(index, buffer, option);
    }
    usb::Status open(std::uint32_t index, usb::Handle& handle) override {
        return inner_.open(index, handle);
    }
    usb::Status close(usb::Handle handle) override { return inner_.close(handle); }
    usb::Status read(usb::Handle handle, void* buffer, std::uint32_t count,
                     std::uint32_t& bytesRead) override {
        return inner_.read(handle, buffer, count, bytesRead);
    }
    usb::Status write(usb::Handle handle, const void* buffer, std::uint32_t count,
                      std::uint32_t& bytesWritten) override {
        return inner_.write(handle, buffer, count, bytesWritten);
    }
    usb::Status flushBuffers(usb::Handle handle, std::uint8_t tx, std::uint8_t rx) override {
        return inner_.flushBuffers(handle, tx, rx);
    }
    usb::Status setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override {
        return inner_.setTimeouts(readMs, writeMs);
    }
    usb::Status getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) override {
        return inner_.getTimeouts(readMs, writeMs);
    }
    usb::Status checkRxQueue(usb::Handle handle, std::uint32_t& queued,
                             std::uint32_t& state) override {
        return inner_.checkRxQueue(handle, queued, state);
    }
    bool simulatedBox() const override { return inner_.simulatedBox(); }
    std::string lastError() const override { return inner_.lastError(); }
    std::string reachProblem() const override { return inner_.reachProblem(); }

  private:
    usb::Driver& inner_;
};

} // namespace telmar::cli
