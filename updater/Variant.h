// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace telmar::updater {

// What tells one updater build from the other; everything else is common.
struct Variant {
    std::string_view buildName;              // "FPGA1", "FPGA2"
    std::string_view titleLine;              // greeting line at y 10
    std::string_view versionLine;            // greeting line at y 30
    std::uint8_t enterIspByte2;              // byte 2 of EnterIsp
    std::uint32_t blockCount;                // blocks written, and the progress divisor
    std::span<const std::uint8_t> image;     // exactly blockCount x 512 bytes
    std::uint32_t imageCrc32;                // of `image`, computed when the program was built
    bool placeholderImage;                   // the image is the repository's stand-in, not firmware
    std::span<const std::uint8_t> largeIcon; // icon files (.ico), for the shells
    std::span<const std::uint8_t> smallIcon;
};

namespace fpga1 {
const Variant& variant();
}
namespace fpga2 {
const Variant& variant();
}

} // namespace telmar::updater
