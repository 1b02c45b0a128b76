// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace telmar::updater {

// The updater's five frames, byte for byte. Reply byte 1 == 0x01 means accepted
// where the updater checks it.
constexpr std::size_t kBlockSize = 512;
constexpr std::size_t kPacketSize = 16;
constexpr std::size_t kPacketsPerBlock = kBlockSize / kPacketSize;

constexpr std::uint8_t kFpga1EnterIspByte2 = 0xC8;
constexpr std::uint8_t kFpga2EnterIspByte2 = 0x78;

constexpr std::array<std::uint8_t, 5> enterIspFrame(std::uint8_t byte2) {
    return {0x10, 0x05, byte2, 0x0F, 0x40};
}
constexpr std::array<std::uint8_t, 5> setBlockIndexFrame(std::uint8_t block) {
    return {0x10, 0x05, 0x50, 0x01, block};
}
constexpr std::array<std::uint8_t, 5> kWriteFlashPacketHeader = {0x10, 0x15, 0x50, 0x41, 0x10};
constexpr std::size_t kWriteFlashPacketLength = kWriteFlashPacketHeader.size() + kPacketSize;
constexpr std::array<std::uint8_t, 5> kExitIspFrame = {0x10, 0x05, 0x50, 0x02, 0x00};
constexpr std::array<std::uint8_t, 3> kResetBoxFrame = {0x11, 0x01, 0xDC};

constexpr std::size_t kShortReplyLength = 2; // EnterIsp, SetBlockIndex, packets, ExitIsp
constexpr std::size_t kResetReplyLength = 1;
constexpr std::uint8_t kAccepted = 0x01;

} // namespace telmar::updater
