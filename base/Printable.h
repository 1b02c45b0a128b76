// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Text from outside the program (the box, the driver, a file, the environment) on its
// way to a person or a reader of JSON. One rule for all of it:
// - on a terminal and in the debug log, printable() below: printable ASCII as it is,
//   every other byte as \xNN, cut at a bound;
// - the box's own texts are Latin-1, shown with every control byte as '?' (in a window, a
//   list or on a terminal a source's name can then neither wrap a line nor drive the
//   terminal) and as UTF-8 where UTF-8 is read (latin1ToUtf8);
// - JSON is written as UTF-8 by the library, an invalid byte replaced by U+FFFD.
namespace telmar::base {

// Control and non-ASCII bytes as \xNN, backslash and quote escaped, and cut after
// `maxBytes` bytes of the original with its full length named.
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

// C0, DEL and C1: the bytes of Latin-1 text that are no character to show.
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

// Latin-1 bytes as UTF-8: always valid UTF-8.
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

// UTF-8 back to Latin-1; nullopt for a character beyond U+00FF or a broken sequence.
inline std::optional<std::string> utf8ToLatin1(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto u = static_cast<unsigned char>(utf8[i]);
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if ((u == 0xC2 || u == 0xC3) && i + 1 < utf8.size() &&
                   (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
            out += static_cast<char>(((u & 0x03) << 6) | (utf8[++i] & 0x3F));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

} // namespace telmar::base
