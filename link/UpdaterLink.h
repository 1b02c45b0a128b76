// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "link/Messages.h"
#include "usb/Driver.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace telmar::link {

// The updater's device link, used only by its worker thread.
class UpdaterLink {
  public:
    static constexpr std::uint32_t kReplyWaitMs = 2000;
    // "BytesRead not same as datalength" and 16 blanks.
    static constexpr std::string_view kShortReplyLine =
        "BytesRead not same as datalength                ";
    static constexpr int kShortReplyY = 10;

    UpdaterLink(usb::Driver& driver, Clock& clock, MessageSink& messages, LineSink& lines);

    enum class Connect {
        Opened,      // deviceHandle() is open
        NotFound,    // no device has the serial; the link has said so
        NotOpened,   // the box is there but could not be opened; nothing shown
        NotPrepared, // opened, but its buffers could not be flushed; closed again, nothing shown
    };

    // Afterwards deviceHandle() is an open handle, or kNoHandle when no box was opened.
    Connect connectDevice();
    // Sends the request, then reads exactly reply.size() bytes into `reply`.
    bool exchange(std::span<const std::uint8_t> request, std::span<std::uint8_t> reply);
    void closeDevice();

    usb::Handle deviceHandle() const { return deviceHandle_; }

  private:
    // The exchange's steps; `failure` says which one failed, for the log.
    bool exchangeSteps(std::span<const std::uint8_t> request, std::span<std::uint8_t> reply,
                       std::uint32_t& received, const char*& failure);

    usb::Driver& driver_;
    Clock& clock_;
    MessageSink& messages_;
    LineSink& lines_;
    usb::Handle deviceHandle_ = usb::kNoHandle;
};

} // namespace telmar::link
