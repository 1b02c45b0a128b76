// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace telmar::status {

// One video identification code and its names (ASCII).
struct VideoFormatEntry {
    const char* shortName; // compact key, at most 10 characters
    const char* fullName;  // shown to the user, e.g. "1920x1080p60"
    std::uint32_t code;    // equals the row's index
};

constexpr std::size_t kVideoFormatCount = 128;
extern const std::array<VideoFormatEntry, kVideoFormatCount> VideoFormatTable;

// Room for a name and its NUL.
constexpr std::size_t kVideoFormatNameSize = 20;
using VideoFormatName = std::array<char, kVideoFormatNameSize>;

// Copies the two names of `code` into the buffers, NUL-terminated; codes past the
// table give two empty names.
void lookupVideoFormat(std::uint16_t code, VideoFormatName& shortNameOut,
                       VideoFormatName& fullNameOut);

} // namespace telmar::status
