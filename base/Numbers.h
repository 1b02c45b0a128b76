// SPDX-License-Identifier: MIT
#pragma once

#include <charconv>
#include <concepts>
#include <limits>
#include <optional>
#include <string_view>

namespace telmar::base {

// The whole of `text` as a T in `base`; nullopt when it is empty, holds anything
// else (a sign T cannot take, a blank, a "0x") or is above `max` or out of T's range.
template <std::integral T>
std::optional<T> parseNumber(std::string_view text, T max = std::numeric_limits<T>::max(),
                             int base = 10) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc{} || ptr != end || value > max) {
        return std::nullopt;
    }
    return value;
}

} // namespace telmar::base
