// SPDX-License-Identifier: MIT
#pragma once

#include "link/PanelLink.h"
#include "status/VideoStatus.h"

#include <algorithm>
#include <string_view>

namespace telmar::test {

using link::Reply;

// Blocks 11 to 14 of a present input; everything else zero.
struct VideoBlocks {
    VideoBlocks() {
        input[0] = avi[0] = source[0] = hdr[0] = 0xE0;
        input[6] = 0xC0;
    }
    // A valid SPD frame with the two names, each cut to its field.
    void spd(std::string_view vendor, std::string_view product) {
        source[2] = 0x83, source[3] = 1, source[4] = 25;
        std::copy_n(vendor.begin(), std::min<std::size_t>(vendor.size(), 8), &source[6]);
        std::copy_n(product.begin(), std::min<std::size_t>(product.size(), 16), &source[14]);
    }
    void drm(std::uint8_t eotf) { hdr[2] = 0x87, hdr[3] = 1, hdr[4] = 26, hdr[6] = eotf; }
    status::VideoLines lines() const { return status::composeVideoLines(input, avi, source, hdr); }

    Reply input{}, avi{}, source{}, hdr{};
};

} // namespace telmar::test
