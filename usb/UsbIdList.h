// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string_view>
#include <vector>

namespace telmar::usb {

struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    friend bool operator==(const UsbId&, const UsbId&) = default;
};

// The factory id of the box's USB interface.
inline constexpr UsbId kDefaultUsbId{0x10C4, 0xEA61};

// Variable that replaces the id list, e.g. "10c4:ea61,1234:5678".
inline constexpr const char* kUsbIdsVariable = "TELMAR_USB_IDS";

// "vvvv:pppp[,vvvv:pppp...]", hex, 1 to 4 digits each, blanks around an entry allowed.
// Any malformed entry rejects the whole list; repeated ids are kept once.
std::optional<std::vector<UsbId>> parseUsbIdList(std::string_view text);

// The id list for the variable's value (nullptr when unset). A malformed value is
// named on `err` in one line and the default list is used.
std::vector<UsbId> usbIdsFromEnvironment(const char* value, std::ostream& err);

} // namespace telmar::usb
