// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace telmar::base {

// A value from outside (an environment variable, a path) made safe to echo on a
// terminal: control and non-ASCII bytes as \xNN, backslash and quote escaped, and cut
// after `maxBytes` bytes of the original with its full length named.
inline std::string printable(std::string_view text, std::size_t maxBytes = 80) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    const std::size_t shown = text.size() > maxBytes ? maxBytes : text.size();
    for (std::size_t i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kDigits[c >> 4];
            out += kDigits[c & 0x0F];
        }
    }
    if (shown < text.size()) {
        out += "... (" + std::to_string(text.size()) + " bytes)";
    }
    return out;
}

} // namespace telmar::base
