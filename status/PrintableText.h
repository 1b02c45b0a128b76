// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace telmar::status {

// Bytes a source sends (an SPD vendor or product name) are shown as Latin-1 with every
// control byte (C0, DEL, C1) as '?', so they can drive neither a terminal nor a list.
constexpr bool isControlByte(unsigned char c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
}

inline std::string printableLatin1(std::string_view latin1) {
    std::string out(latin1);
    for (char& c : out) {
        if (isControlByte(static_cast<unsigned char>(c))) {
            c = '?';
        }
    }
    return out;
}

// For JSON and terminals, which take UTF-8.
inline std::string latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (const char c : latin1) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

} // namespace telmar::status
