// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace telmar::test::usbemu {

// The box side of one request frame: the reply bytes, or nothing.
using Responder =
    std::function<std::optional<std::vector<std::uint8_t>>(std::span<const std::uint8_t>)>;

struct DeviceSpec {
    std::string serial;
    std::uint8_t port = 1; // the device sits at bus 1, port `port`
    std::uint16_t vendorId = 0x10C4;
    std::uint16_t productId = 0xEA61;
    bool bulkOut = true; // false: the interface lacks its bulk OUT endpoint
};

// What the emulated device saw, in order.
struct Event {
    enum class Kind { Claim, Release, Vendor, Out };
    Kind kind;
    std::uint8_t request = 0;         // Vendor
    std::uint16_t value = 0;          // Vendor; Claim/Release: the interface
    std::vector<std::uint8_t> data{}; // Out: the frame
    friend bool operator==(const Event&, const Event&) = default;
};

Event vendorEvent(std::uint8_t request, std::uint16_t value);
Event outEvent(std::vector<std::uint8_t> frame);
std::string describe(const Event& event);
std::string describe(const std::vector<Event>& events);

// An emulated USB bus (umockdev testbed) with boxes that answer the usbdevfs
// requests libusb makes. The handlers run on umockdev's worker thread; only a
// child process started with LD_PRELOAD and UMOCKDEV_DIR sees the devices.
class UsbTestbed {
  public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    // Devices are told apart by their port.
    void addDevice(const DeviceSpec& spec, Responder responder);

    const std::string& rootDir() const;
    // Lets an unprivileged process read the tree but not open the device nodes.
    void exposeToOthersExceptNodes();

    std::vector<Event> events(std::uint8_t port) const;
    // The next `count` frames to the device go unanswered.
    void dropReplies(std::uint8_t port, unsigned count);
    // The device leaves the bus when the n-th purge request (1-based) reaches it:
    // that request and everything after it fail as on a vanished device.
    void vanishOnPurge(std::uint8_t port, unsigned n);
    // Requests answered with an error because the emulation does not know them.
    std::vector<unsigned long> unknownRequests() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace telmar::test::usbemu
