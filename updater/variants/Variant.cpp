// SPDX-License-Identifier: MIT
// One source for both builds. The build defines what tells them apart:
//   TELMAR_UPDATER_VARIANT  the namespace (fpga1, fpga2)
//   TELMAR_VARIANT_BUILD    the build's name ("FPGA1")
//   TELMAR_VARIANT_VERSION  the greeting's version line ("Version: 24")
//   TELMAR_VARIANT_ENTER_ISP  byte 2 of EnterIsp (a constant of updater/Frames.h)
//   TELMAR_VARIANT_BLOCKS   the image's size in 512-byte blocks
#include "updater/Variant.h"

#include "updater/Crc32.h"
#include "updater/Frames.h"

// Generated at build time from this build's image and icon files.
#include "FlashImage.h"
#include "LargeIcon.h"
#include "SmallIcon.h"

namespace telmar::updater::TELMAR_UPDATER_VARIANT {

namespace {
constexpr std::uint32_t kBlockCount = TELMAR_VARIANT_BLOCKS;
static_assert(kBlockCount <= 256, "SetBlockIndex carries the block number in one byte");
static_assert(sizeof(kFlashImage) == kBlockCount * kBlockSize,
              "the " TELMAR_VARIANT_BUILD " image must be exactly kBlockCount x 512 bytes");
// Recorded at build time; the updater checks the image against it before any frame.
constexpr std::uint32_t kImageCrc32 = crc32(kFlashImage);
} // namespace

const Variant& variant() {
    static const Variant kVariant{
        .buildName = TELMAR_VARIANT_BUILD,
        .titleLine = "TELMAR " TELMAR_VARIANT_BUILD " Update",
        .versionLine = TELMAR_VARIANT_VERSION,
        .enterIspByte2 = TELMAR_VARIANT_ENTER_ISP,
        .blockCount = kBlockCount,
        .image = kFlashImage,
        .imageCrc32 = kImageCrc32,
        .placeholderImage = TELMAR_PLACEHOLDER_IMAGE != 0,
        .largeIcon = kLargeIcon,
        .smallIcon = kSmallIcon,
    };
    return kVariant;
}

} // namespace telmar::updater::TELMAR_UPDATER_VARIANT
