// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "link/Messages.h"
#include "usb/Driver.h"

#include <array>
#include <cstdint>
#include <string>

namespace telmar::link {

// One driver read delivers at most this many bytes, so every reply area holds this many.
constexpr std::uint32_t kReplySize = 64;
using Reply = std::array<std::uint8_t, kReplySize>;

// The control panel's device link: finds the box by its serial string, opens and
// closes it, and carries one request/reply exchange at a time on the GUI thread.
class PanelLink {
  public:
    static constexpr std::uint32_t kTimeoutMs = 4000;

    PanelLink(usb::Driver& driver, Clock& clock, MessageSink& messages);

    bool findDevice(std::string wanted, std::uint32_t& indexOut);
    bool openDevice(std::uint32_t index);
    void closeDevice();

    bool readTimed(void* buffer, std::uint32_t count, std::uint32_t& bytesReadOut,
                   std::uint32_t timeoutMs);
    bool writeTimed(const void* buffer, std::uint32_t count, std::uint32_t& bytesWrittenOut,
                    std::uint32_t timeoutMs);

    // Sends `requestLength` bytes and copies every byte received (at most 64) to `reply`;
    // succeeds only if at least `minReplyLength` bytes came.
    bool exchange(Reply& reply, const std::uint8_t* request, std::uint32_t minReplyLength,
                  std::uint32_t requestLength);

    usb::Handle deviceHandle() const { return deviceHandle_; }
    // The window forgets any handle before its start-up sequence; nothing is closed.
    void resetDeviceHandle() { deviceHandle_ = usb::kNoHandle; }
    bool linkBusy() const { return linkBusy_; }

  private:
    usb::Driver& driver_;
    Clock& clock_;
    MessageSink& messages_;
    usb::Handle deviceHandle_ = usb::kNoHandle;
    bool linkBusy_ = false;
    Reply linkBuffer_{};
};

} // namespace telmar::link
