// SPDX-License-Identifier: MIT
#include "usb/UsbIdList.h"

#include "base/Numbers.h"
#include "base/Printable.h"

#include <algorithm>
#include <ostream>

namespace telmar::usb {

namespace {

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    return first == std::string_view::npos ? std::string_view{}
                                           : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::optional<std::uint16_t> parseHex16(std::string_view s) {
    return s.size() > 4 ? std::nullopt : base::parseNumber<std::uint16_t>(s, 0xFFFF, 16);
}

std::optional<UsbId> parseEntry(std::string_view entry) {
    entry = trim(entry);
    const auto colon = entry.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto vendor = parseHex16(entry.substr(0, colon));
    const auto product = parseHex16(entry.substr(colon + 1));
    if (!vendor || !product) {
        return std::nullopt;
    }
    return UsbId{*vendor, *product};
}

} // namespace

std::optional<std::vector<UsbId>> parseUsbIdList(std::string_view text) {
    std::vector<UsbId> ids;
    while (true) {
        const auto comma = text.find(',');
        const auto id = parseEntry(text.substr(0, comma));
        if (!id) {
            return std::nullopt;
        }
        if (std::find(ids.begin(), ids.end(), *id) == ids.end()) {
            ids.push_back(*id);
        }
        if (comma == std::string_view::npos) {
            return ids;
        }
        text.remove_prefix(comma + 1);
    }
}

std::vector<UsbId> usbIdsFromEnvironment(const char* value, std::ostream& err) {
    if (value == nullptr || trim(value).empty()) {
        return {kDefaultUsbId};
    }
    if (auto ids = parseUsbIdList(value)) {
        return *ids;
    }
    err << kUsbIdsVariable << ": ignoring \"" << base::printable(value)
        << "\" (expected vendor:product ids in hex, such as 10c4:ea61,1234:5678); using 10c4:ea61"
        << std::endl;
    return {kDefaultUsbId};
}

} // namespace telmar::usb
