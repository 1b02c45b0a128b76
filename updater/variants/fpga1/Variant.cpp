// SPDX-License-Identifier: MIT
#include "updater/Variant.h"

#include "updater/Crc32.h"
#include "updater/Frames.h"

// Generated at build time from this build's image and icon files.
#include "FlashImage.h"
#include "LargeIcon.h"
#include "SmallIcon.h"

namespace telmar::updater::fpga1 {

namespace {
constexpr std::uint32_t kBlockCount = 248;
static_assert(kBlockCount <= 256, "SetBlockIndex carries the block number in one byte");
static_assert(sizeof(kFlashImage) == kBlockCount * kBlockSize,
              "the FPGA1 image must be exactly kBlockCount x 512 bytes");
// Recorded at build time; the updater checks the image against it before any frame.
constexpr std::uint32_t kImageCrc32 = crc32(kFlashImage);
} // namespace

const Variant& variant() {
    static const Variant kVariant{
        .buildName = "FPGA1",
        .titleLine = "TELMAR FPGA1 Update",
        .versionLine = "Version: 24",
        .enterIspByte2 = kFpga1EnterIspByte2,
        .blockCount = kBlockCount,
        .image = kFlashImage,
        .imageCrc32 = kImageCrc32,
        .placeholderImage = TELMAR_PLACEHOLDER_IMAGE != 0,
        .largeIcon = kLargeIcon,
        .smallIcon = kSmallIcon,
    };
    return kVariant;
}

} // namespace telmar::updater::fpga1
