// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace telmar::protocol {

// First byte of every frame: 0x10 begins a write request, 0x11 a read request.
constexpr std::uint8_t kWriteRequest = 0x10;
constexpr std::uint8_t kReadRequest = 0x11;

// Reply byte 0 of a register write or block read, and of a settings read.
constexpr std::uint8_t kBlockEcho = 0xE0;
constexpr std::uint8_t kSettingsEcho = 0xE1;

// writeRegister: 10 04 E0 reg val.  readBlock: 11 N E0 B.  readSettings: 11 N E1.
constexpr std::uint8_t kWriteRegisterLengthByte = 0x04;
constexpr std::uint32_t kWriteRegisterLength = 5;
constexpr std::uint32_t kWriteRegisterMinReply = 2;
constexpr std::uint32_t kReadBlockLength = 4;
constexpr std::uint32_t kReadSettingsLength = 3;

// Status blocks and the reply byte counts the control panel asks for.
namespace block {
constexpr std::uint8_t Version = 9;
constexpr std::uint8_t InputStatus = 11;
constexpr std::uint8_t Avi = 12;
constexpr std::uint8_t SourceProduct = 13;
constexpr std::uint8_t Hdr = 14;
constexpr std::uint8_t AudioStatus = 15;
} // namespace block
namespace block_count {
constexpr std::uint8_t Version = 8;
constexpr std::uint8_t InputStatus = 7;
constexpr std::uint8_t Avi = 17;
constexpr std::uint8_t SourceProduct = 33;
constexpr std::uint8_t Hdr = 33;
constexpr std::uint8_t AudioStatus = 16;
} // namespace block_count

} // namespace telmar::protocol
