// SPDX-License-Identifier: MIT
// The USB id list from its environment variable against a model of the grammar, and
// the echo of a bad value: one printable line of bounded length.

#include "base/Printable.h"
#include "tests/fuzz/FuzzCheck.h"
#include "usb/UsbIdList.h"

#include <algorithm>
#include <sstream>
#include <string>

namespace {

using namespace telmar;

bool hexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "vvvv:pppp" with blanks around; 1 to 4 hex digits each side.
std::optional<usb::UsbId> modelEntry(std::string entry) {
    while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) {
        entry.erase(entry.begin());
    }
    while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) {
        entry.pop_back();
    }
    const auto colon = entry.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const std::string halves[2] = {entry.substr(0, colon), entry.substr(colon + 1)};
    std::uint16_t values[2] = {0, 0};
    for (int h = 0; h < 2; ++h) {
        if (halves[h].empty() || halves[h].size() > 4) {
            return std::nullopt;
        }
        for (char c : halves[h]) {
            if (!hexDigit(c)) {
                return std::nullopt;
            }
            values[h] = static_cast<std::uint16_t>(values[h] * 16 +
                                                   std::stoi(std::string(1, c), nullptr, 16));
        }
    }
    return usb::UsbId{values[0], values[1]};
}

std::optional<std::vector<usb::UsbId>> model(const std::string& text) {
    std::vector<usb::UsbId> ids;
    std::stringstream parts(text);
    std::string entry;
    std::size_t entries = 0;
    while (std::getline(parts, entry, ',')) {
        ++entries;
        const auto id = modelEntry(entry);
        if (!id) {
            return std::nullopt;
        }
        if (std::find(ids.begin(), ids.end(), *id) == ids.end()) {
            ids.push_back(*id);
        }
    }
    // getline drops an empty last entry ("a:b," or ""), which is malformed.
    if (entries == 0 || text.back() == ',') {
        return std::nullopt;
    }
    return ids;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(usb::parseUsbIdList(text) == model(text));

    const std::string shown = base::printable(text, 40);
    FUZZ_CHECK(shown.size() <= 4 * 40 + 32);
    for (char c : shown) {
        FUZZ_CHECK(c >= 0x20 && c < 0x7F);
    }

    const std::string value = text.substr(0, text.find('\0'));
    std::ostringstream err;
    const auto ids = usb::usbIdsFromEnvironment(value.c_str(), err);
    FUZZ_CHECK(!ids.empty());
    const std::string said = err.str();
    if (!said.empty()) {
        FUZZ_CHECK(said.size() < 512);
        FUZZ_CHECK(said.find('\n') == said.size() - 1);
        for (std::size_t i = 0; i + 1 < said.size(); ++i) {
            FUZZ_CHECK(said[i] >= 0x20 && said[i] < 0x7F);
        }
    }
    return 0;
}
