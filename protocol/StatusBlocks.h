// SPDX-License-Identifier: MIT
#pragma once

// Named views of the status blocks the control panel reads. Offsets count from reply
// byte 0 (the 0xE0 echo). Every accessor reads a fixed offset of a 64-byte reply, so no
// byte value can move a read outside it.

#include "link/PanelLink.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace telmar::protocol {

using link::Reply;

// Text field of `width` bytes at `offset`: ends at the first NUL or after `width` bytes.
// Bytes are kept as sent (8-bit).
template <std::size_t offset, std::size_t width> std::string fixedFieldText(const Reply& reply) {
    static_assert(offset + width <= link::kReplySize, "field lies outside the reply");
    std::string text;
    for (std::size_t i = offset; i < offset + width && reply[i] != 0; ++i) {
        text.push_back(static_cast<char>(reply[i]));
    }
    return text;
}

// Block 9: six version numbers at offsets 2 to 7.
class VersionBlock {
  public:
    static constexpr std::size_t kNumberCount = 6;
    explicit VersionBlock(const Reply& reply) : r_(reply) {}
    // i from 0 to 5; anything else reads as 0.
    std::uint8_t number(std::size_t i) const { return i < kNumberCount ? r_[2 + i] : 0; }

  private:
    const Reply& r_;
};

// Block 11: the HDMI vendor format, HDCP, colour depth and presence bits.
class InputStatusBlock {
  public:
    static constexpr std::uint8_t kExtendedFormat = 0x20; // extended video code follows
    static constexpr std::uint8_t kThreeDFormat = 0x40;   // 3D structure follows
    static constexpr std::uint8_t kFramePacking = 0x00;
    static constexpr std::uint8_t kTopAndBottom = 0x60;
    static constexpr std::uint8_t kSideBySide = 0x80;
    static constexpr std::uint8_t kHdcp14 = 1;
    static constexpr std::uint8_t kHdcp22 = 2;
    static constexpr std::uint8_t kPresentBits = 0xC0;

    explicit InputStatusBlock(const Reply& reply) : r_(reply) {}
    std::uint8_t vendorFormat() const { return r_[2]; }
    // The extended video code or the 3D structure byte, as vendorFormat() says.
    std::uint8_t vendorFormatDetail() const { return r_[3]; }
    std::uint8_t hdcpCode() const { return static_cast<std::uint8_t>((r_[4] >> 1) & 0x03); }
    // 5, 6, 7 are 10, 12, 16 bits per component; anything else indicates none.
    std::uint8_t colourDepthCode() const { return static_cast<std::uint8_t>(r_[5] & 0x0F); }
    bool inputPresent() const { return (r_[6] & kPresentBits) == kPresentBits; }

  private:
    const Reply& r_;
};

// Block 12: AVI InfoFrame payload bytes 1 to 4 at offsets 4 to 7.
class AviBlock {
  public:
    static constexpr std::uint8_t kRgb = 0x00;
    static constexpr std::uint8_t kYcc422 = 0x20;
    static constexpr std::uint8_t kYcc444 = 0x40;
    static constexpr std::uint8_t kYcc420 = 0x60;
    static constexpr std::uint8_t kLimitedRange = 0x04;
    static constexpr std::uint8_t kSmpte170m = 0x40;
    static constexpr std::uint8_t kBt709 = 0x80;
    static constexpr std::uint8_t kExtendedColorimetry = 0xC0;

    explicit AviBlock(const Reply& reply) : r_(reply) {}
    std::uint8_t colourFormat() const { return static_cast<std::uint8_t>(r_[4] & 0x60); }
    std::uint8_t colorimetry() const { return static_cast<std::uint8_t>(r_[5] & 0xC0); }
    // Meaningful only when colorimetry() is kExtendedColorimetry.
    std::uint8_t extendedColorimetry() const { return static_cast<std::uint8_t>(r_[6] & 0x70); }
    std::uint8_t quantizationRange() const { return static_cast<std::uint8_t>(r_[6] & 0x0C); }
    std::uint8_t videoCode() const { return r_[7]; }

  private:
    const Reply& r_;
};

// Block 13: Source Product Description InfoFrame, header at offsets 2 to 4.
class SourceProductBlock {
  public:
    static constexpr std::uint8_t kType = 0x83;
    static constexpr std::uint8_t kVersion = 1;
    static constexpr std::size_t kVendorNameLength = 8;
    static constexpr std::size_t kProductLength = 16;

    explicit SourceProductBlock(const Reply& reply) : r_(reply) {}
    bool valid() const { return r_[2] == kType && r_[3] == kVersion && r_[4] != 0; }
    // Offsets 6 to 13, at most 8 bytes, as the source sent them.
    std::string vendorName() const { return fixedFieldText<6, kVendorNameLength>(r_); }
    // Offsets 14 to 29, at most 16 bytes, as the source sent them.
    std::string productDescription() const { return fixedFieldText<14, kProductLength>(r_); }

  private:
    const Reply& r_;
};

// Block 14: Dynamic Range and Mastering InfoFrame, header at offsets 2 to 4.
class HdrBlock {
  public:
    static constexpr std::uint8_t kType = 0x87;
    static constexpr std::uint8_t kVersion = 1;
    static constexpr std::uint8_t kSdrGamma = 0;
    static constexpr std::uint8_t kHdrGamma = 1;
    static constexpr std::uint8_t kSmpteSt2084 = 2;

    explicit HdrBlock(const Reply& reply) : r_(reply) {}
    bool valid() const { return r_[2] == kType && r_[3] == kVersion && r_[4] != 0; }
    std::uint8_t eotf() const { return r_[6]; }

  private:
    const Reply& r_;
};

// Block 15: audio sample rate and HBR flag, IEC 60958 channel status, audio InfoFrame.
class AudioStatusBlock {
  public:
    static constexpr std::uint8_t kWordLength18 = 0x4;
    static constexpr std::uint8_t kWordLength20 = 0xA;
    static constexpr std::uint8_t kWordLength24 = 0xB;

    explicit AudioStatusBlock(const Reply& reply) : r_(reply) {}
    std::uint8_t rateCode() const { return static_cast<std::uint8_t>(r_[4] & 0x07); }
    bool highBitRate() const { return (r_[4] & 0x20) != 0; }
    // IEC 60958 channel status byte 0: a compressed bitstream.
    bool notLinearPcm() const { return (r_[5] & 0x02) != 0; }
    // IEC 60958 channel status byte 4.
    std::uint8_t wordLengthCode() const { return static_cast<std::uint8_t>(r_[9] & 0x0F); }
    // 0: refer to the stream header; n: n + 1 channels.
    std::uint8_t channelCount() const { return static_cast<std::uint8_t>(r_[12] & 0x07); }
    std::uint8_t speakerAllocation() const { return r_[15]; }

  private:
    const Reply& r_;
};

} // namespace telmar::protocol
