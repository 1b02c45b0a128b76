// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "link/Messages.h"
#include "usb/Driver.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>

namespace telmar::link {

// One driver read delivers at most this many bytes, so every reply area holds this many.
constexpr std::uint32_t kReplySize = 64;
using Reply = std::array<std::uint8_t, kReplySize>;

// The control panel's device link: finds the box by its serial string, opens and
// closes it, and carries one request/reply exchange at a time. One thread makes the
// exchanges; linkBusy() and abandon() may be used from any thread.
class PanelLink {
  public:
    static constexpr std::uint32_t kTimeoutMs = 4000;

    PanelLink(usb::Driver& driver, Clock& clock, MessageSink& messages);

    bool findDevice(std::string_view wanted, std::uint32_t& indexOut);
    bool openDevice(std::uint32_t index);
    void closeDevice();

    // Sends the request and copies every byte received (at most 64) to `reply`; succeeds
    // only if at least `minReplyLength` bytes came.
    bool exchange(std::span<const std::uint8_t> request, Reply& reply,
                  std::uint32_t minReplyLength);

    // The search and open of the start-up sequence without any box: for looking again
    // while there is no box, when a miss is the normal outcome.
    bool findAndOpenQuietly(std::string_view wanted, std::uint32_t& indexOut);
    // Whether a device with this serial string is on the bus; no box, no open.
    bool deviceAttached(std::string_view wanted);
    // Lets go of a box that has left the bus: its close fails by nature, so no box.
    void releaseLostDevice();

    // Ends the wait of the exchange in flight and makes every later exchange fail at
    // once, without a driver call. For the program's end; it cannot be undone.
    void abandon() { abandoned_ = true; }

    usb::Handle deviceHandle() const { return deviceHandle_; }
    // The window forgets any handle before its start-up sequence; nothing is closed.
    void resetDeviceHandle() { deviceHandle_ = usb::kNoHandle; }
    bool linkBusy() const { return linkBusy_; }
    // Exchanges that succeeded so far: a caller tells "all failed" by an unchanged count.
    std::uint64_t exchangesSucceeded() const { return succeeded_; }

  private:
    usb::Driver& driver_;
    Clock& clock_;
    MessageSink& messages_;
    usb::Handle deviceHandle_ = usb::kNoHandle;
    std::atomic<bool> linkBusy_ = false;
    std::atomic<bool> abandoned_ = false;
    std::atomic<std::uint64_t> succeeded_ = 0;
    Reply linkBuffer_{};
};

} // namespace telmar::link
