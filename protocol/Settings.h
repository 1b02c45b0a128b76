// SPDX-License-Identifier: MIT
#pragma once

#include "link/PanelLink.h"

#include <array>
#include <cstdint>

namespace telmar::protocol {

// The settings block: reply byte 0 is 0xE1, byte 1 unused, byte 2 + k is settings byte k.
constexpr std::size_t kSettingsCount = 20;
constexpr std::uint8_t kSettingsReplyCount = 22;
constexpr std::size_t kSettingsReplyOffset = 2;

// Settings bytes by number. They equal the register numbers except for Htpc and
// HdmiAudioMute, and Hpd has none.
namespace settings_byte {
constexpr std::size_t LogoLed = 0;
constexpr std::size_t AudioFrame = 1;
constexpr std::size_t HdcpVersion = 2;
constexpr std::size_t GuiEnable = 4;
constexpr std::size_t EdidMode = 5;
constexpr std::size_t AudioMode = 6;
constexpr std::size_t Htpc = 10;
constexpr std::size_t HdmiAudioMute = 11;
} // namespace settings_byte

// The control panel's latest knowledge of the 20 settings bytes.
using SettingsMirror = std::array<std::uint8_t, kSettingsCount>;

// Copies reply offsets 2 to 21 into `mirror` in one piece.
inline void copySettingsBlock(const link::Reply& reply, SettingsMirror& mirror) {
    for (std::size_t k = 0; k < kSettingsCount; ++k) {
        mirror[k] = reply[kSettingsReplyOffset + k];
    }
}

} // namespace telmar::protocol
