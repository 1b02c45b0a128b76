// SPDX-License-Identifier: MIT
#pragma once

#include "usb/Driver.h"

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace telmar::sim {

// The driver seam over the simulator daemon's socket. Devices are the daemon's
// plugged boxes; each open handle is a connection of its own; replies arrive in the
// background after the daemon's delay. With no daemon running there are no devices.
class SimDriver final : public usb::Driver {
  public:
    // Longest wait of a receive-queue check that finds nothing queued.
    static constexpr std::uint32_t kQueueWaitUs = 1000;
    static constexpr std::uint32_t kDefaultTimeoutMs = 1000;
    // A USB bus holds no more devices; a daemon that counts more is not one.
    static constexpr std::uint32_t kMaxDevices = 127;
    // Reply bytes waiting to be read on one handle, and what a handle takes in from
    // the daemon per call. Beyond the first the handle fails like an unplugged box.
    static constexpr std::size_t kMaxQueued = 64 * 1024;
    static constexpr std::size_t kMaxTakenPerCall = 64 * 1024;

    // `complaints` (if given) hears, once per kind, why the daemon cannot be trusted or
    // reached: another user's socket, a socket path that cannot be, a daemon that talks
    // nonsense.
    explicit SimDriver(std::string socketPath, std::ostream* complaints = nullptr);
    ~SimDriver() override;

    TELMAR_USB_DRIVER_CALLS;
    bool simulatedBox() const override { return true; }
    // No simulator on the socket, one too busy to accept, or one not to be trusted.
    std::string reachProblem() const override;

    const std::string& socketPath() const { return socketPath_; }

  private:
    struct Port;
    struct Answer;
    template <typename Use> usb::Status withPort(usb::Handle handle, Use use, bool forget = false);
    Answer ask(const std::string& request);
    void complain(int kind, const std::string& text);

    std::string socketPath_;
    mutable std::mutex mutex_;
    std::string reachProblem_; // under mutex_
    std::map<usb::Handle, std::shared_ptr<Port>> ports_;
    usb::Handle nextHandle_ = 0x51D0;
    std::atomic<std::uint32_t> readTimeoutMs_{kDefaultTimeoutMs};
    std::atomic<std::uint32_t> writeTimeoutMs_{kDefaultTimeoutMs};
    std::ostream* complaints_;
    std::uint32_t complained_ = 0; // one bit per kind, under mutex_
};

// The `sim` backend on the default socket (see defaultSocketPath in sim/Wire.h).
std::unique_ptr<usb::Driver> createSimDriver();

} // namespace telmar::sim
