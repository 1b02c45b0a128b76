// SPDX-License-Identifier: MIT
#pragma once

#include "link/PanelLink.h"

#include <cstdint>
#include <string_view>

namespace telmar::protocol {

using link::Reply;

// The box's settings registers.
enum class Register : std::uint8_t {
    LogoLed = 0,
    AudioFrame = 1,
    HdcpVersion = 2,
    GuiEnable = 4,
    EdidMode = 5,
    AudioMode = 6,
    Hpd = 10,
    Htpc = 17,
    HdmiAudioMute = 18,
};

// Each request's failure text and how long the status bar shows it.
inline constexpr std::string_view kWriteFailedText = "TELMAR not connected";
inline constexpr int kWriteFailedMs = 4000;
inline constexpr std::string_view kBlockReadFailedText = "...";
inline constexpr int kBlockReadFailedMs = 2000;
inline constexpr std::string_view kSettingsReadFailedText = "Error Reading values";
inline constexpr int kSettingsReadFailedMs = 4000;

// Where a request puts its failure text; the control panel binds it to its status bar.
class StatusSink {
  public:
    virtual ~StatusSink() = default;
    virtual void showMessage(std::string_view text, int timeoutMs) = 0;
};

// The control panel's three requests over its link. Each makes exactly one exchange
// and, on failure, shows its own text on the status sink.
class ControlProtocol {
  public:
    ControlProtocol(link::PanelLink& link, StatusSink& status);

    bool writeRegister(std::uint8_t reg, std::uint8_t value);
    bool writeRegister(Register reg, std::uint8_t value) {
        return writeRegister(static_cast<std::uint8_t>(reg), value);
    }
    // On true, `reply` holds the block (byte 0 is 0xE0). On false it holds whatever
    // the link copied, uncleared.
    bool readBlock(std::uint8_t block, Reply& reply, std::uint8_t count);
    // On true, `reply` holds the settings block (byte 0 is 0xE1).
    bool readSettings(Reply& reply, std::uint8_t count);

    link::PanelLink& link() { return link_; }

  private:
    link::PanelLink& link_;
    StatusSink& status_;
};

} // namespace telmar::protocol
