// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace telmar::status {

enum class PictureAspect : std::uint8_t { k4x3, k16x9, k64x27, k256x135 };
std::string_view pictureAspectName(PictureAspect aspect);

// The timing a video identification code stands for. The names the seven status lines
// show come from VideoFormatTable, which keeps the box's own names; this table keeps
// the numbers of every defined code.
struct VideoTiming {
    std::uint16_t activeWidth;
    std::uint16_t activeHeight;
    bool interlaced;
    std::uint32_t fieldRateMicrohertz;
    PictureAspect aspect;
    std::uint32_t pixelClockKhz;

    double fieldRateHz() const { return fieldRateMicrohertz / 1e6; }
    double pixelClockMhz() const { return pixelClockKhz / 1e3; }
    bool operator==(const VideoTiming&) const = default;
};

// Codes 1 to 127 and 193 to 219; nullptr for 0 and every reserved code.
const VideoTiming* lookupVideoTiming(std::uint8_t vic);

// "3840x2160p60", "1920x1080i50", "720x480p59.94": the field rate to two decimals
// without trailing zeros.
std::string videoTimingName(const VideoTiming& timing);

} // namespace telmar::status
