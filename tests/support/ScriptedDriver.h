// SPDX-License-Identifier: MIT
#pragma once

#include "tests/support/VirtualClock.h"
#include "usb/Driver.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace telmar::test {

// The driver functions, numbered by the vendor library's ordinals so that a
// test can state an expected call sequence as a list of numbers.
enum class Call : int {
    GetNumDevices = 1,
    GetDeviceString = 2,
    Open = 3,
    Close = 4,
    Read = 6,
    Write = 7,
    Flush = 9,
    SetTimeouts = 10,
    GetTimeouts = 11,
    CheckRxQueue = 12,
};

struct CallRecord {
    Call call;
    std::uint32_t index = 0;  // GetDeviceString, Open
    std::uint32_t option = 0; // GetDeviceString
    usb::Handle handle = usb::kNoHandle;
    std::uint32_t count = 0;          // Read, Write: bytes asked / given
    std::vector<std::uint8_t> data{}; // Write: the bytes written; Read: the bytes delivered
    std::uint32_t readMs = 0;         // SetTimeouts
    std::uint32_t writeMs = 0;        // SetTimeouts
};

// A reply the box gives to one written frame.
struct ScriptedReply {
    std::vector<std::uint8_t> bytes;
    std::uint32_t delayMs = 0; // virtual time from the write until the bytes are queued
};

// A scripted stand-in for the driver library. Replies become readable after a
// virtual delay; each receive-queue check costs `queueCheckCostMs` of virtual time,
// so a link waiting for a reply that never comes ends its wait without real time.
class ScriptedDriver final : public usb::Driver {
  public:
    explicit ScriptedDriver(link::VirtualClock& clock) : clock_(clock) {}

    // Devices, in driver order. std::nullopt: the serial string cannot be read.
    void addDevice(std::optional<std::string> serial, std::string linkName = "usb:1-1");
    void setCountFails(bool fails = true);
    // Every device leaves the bus: the list is empty and calls on open handles fail as
    // for a handle the driver does not know. addDevice() plugs one in again.
    void unplugAll();

    // The next `times` calls of `call` fail with `status` (times < 0: every call from now on).
    void failCall(Call call, int times = 1, usb::Status status = usb::kDeviceIoFailed) {
        failCallAfter(call, 0, times, status);
    }
    // As failCall, after `skip` calls of `call` have succeeded.
    void failCallAfter(Call call, int skip, int times = 1,
                       usb::Status status = usb::kDeviceIoFailed);

    // Replies, consumed one per written frame in order. A frame with no scripted reply
    // and no responder gets none.
    void queueReply(std::vector<std::uint8_t> bytes, std::uint32_t delayMs = 0);
    void queueNoReply();
    // Answers frames once the scripted replies are used up; nullopt means no reply.
    using Responder = std::function<std::optional<ScriptedReply>(std::span<const std::uint8_t>)>;
    void setResponder(Responder responder);

    void setQueueCheckCostMs(std::uint32_t ms) { queueCheckCostMs_ = ms; }
    // A failed open writes this into the caller's handle (by default it is left alone).
    void setFailedOpenHandle(std::optional<usb::Handle> handle) { failedOpenHandle_ = handle; }
    // What simulatedBox() answers; a real device's driver says false.
    void setSimulatedBox(bool simulated) { simulatedBox_ = simulated; }
    // What reachProblem() answers.
    void setReachProblem(std::string text) {
        std::lock_guard lock(mutex_);
        reachProblem_ = std::move(text);
    }
    // The read reports this many bytes read, whatever it delivered (models a faulty driver).
    void setReportedReadCount(std::optional<std::uint32_t> count) { reportedReadCount_ = count; }

    // What happened.
    std::vector<CallRecord> calls() const;
    std::vector<int> ordinals() const;
    std::vector<std::vector<std::uint8_t>> writtenFrames() const;
    void clearCalls();
    std::uint32_t readTimeoutMs() const { return readTimeout_; }
    std::uint32_t writeTimeoutMs() const { return writeTimeout_; }
    int openHandles() const;

    TELMAR_USB_DRIVER_CALLS;
    bool simulatedBox() const override { return simulatedBox_; }
    std::string reachProblem() const override {
        std::lock_guard lock(mutex_);
        return reachProblem_;
    }

  private:
    struct Device {
        std::optional<std::string> serial;
        std::string linkName;
    };
    struct Pending {
        std::vector<std::uint8_t> bytes;
        std::uint32_t readyAt;
    };

    // Returns the failure status if this call is scripted to fail.
    std::optional<usb::Status> takeFailure(Call call);
    void record(CallRecord record);
    void releaseDueReplies();
    bool knownHandle(usb::Handle handle) const;

    link::VirtualClock& clock_;
    mutable std::recursive_mutex mutex_;
    std::vector<Device> devices_;
    bool countFails_ = false;
    struct Failure {
        int skip;
        int times;
        usb::Status status;
    };
    std::map<Call, Failure> failures_;
    std::deque<std::optional<ScriptedReply>> scripted_;
    Responder responder_;
    std::deque<Pending> pending_;
    std::vector<std::uint8_t> rx_;
    std::vector<CallRecord> calls_;
    std::map<usb::Handle, std::uint32_t> handles_;
    usb::Handle nextHandle_ = 0x1000;
    std::uint32_t readTimeout_ = 1000;
    std::uint32_t writeTimeout_ = 1000;
    std::uint32_t queueCheckCostMs_ = 1;
    std::optional<std::uint32_t> reportedReadCount_;
    std::optional<usb::Handle> failedOpenHandle_;
    bool simulatedBox_ = false;
    std::string reachProblem_;
};

} // namespace telmar::test
