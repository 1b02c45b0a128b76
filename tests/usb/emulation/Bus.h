// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <string>

// The emulated bus both sides of the umockdev tests agree on.
namespace telmar::test::usbemu::bus {

constexpr const char* kBoxSerial = "2031";

struct Slot {
    const char* serial;
    std::uint8_t port;
    std::uint16_t productId;
    bool bulkOut;
};

// In bus order. The 10C4:0001 device is not in the default id list, so despite
// its serial it is never counted; the box is the third device that is.
constexpr std::array<Slot, 5> kSlots = {{
    {"1111", 1, 0xEA61, true},
    {"2031", 2, 0x0001, true},
    {"20310", 3, 0xEA61, true},
    {"2031", 4, 0xEA61, true},
    {"2032", 5, 0xEA61, false},
}};
constexpr std::uint8_t kBoxPort = 4;
constexpr std::uint32_t kCountedDevices = 4;
constexpr std::uint32_t kBoxIndex = 2;
constexpr std::uint32_t kNoBulkOutIndex = 3;

} // namespace telmar::test::usbemu::bus
