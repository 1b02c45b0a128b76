// SPDX-License-Identifier: MIT
#include "base/Hex.h"

namespace telmar::base {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string encode(std::span<const std::uint8_t> bytes, bool spaced) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        if (spaced && !text.empty()) {
            text += ' ';
        }
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

} // namespace

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    return encode(bytes, true);
}

std::string toHex(std::span<const std::uint8_t> bytes) {
    return encode(bytes, false);
}

std::optional<std::vector<std::uint8_t>> fromHex(std::string_view hex, bool spaced) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size();) {
        if (spaced && hex[i] == ' ') {
            ++i;
            continue;
        }
        const int hi = digitValue(hex[i]);
        const int lo = i + 1 < hex.size() ? digitValue(hex[i + 1]) : -1;
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        i += 2;
    }
    return bytes;
}

} // namespace telmar::base
