// SPDX-License-Identifier: MIT
#pragma once

// The InfoFrames and channel status a source sends, built from named fields so that
// the scenarios read like a signal description instead of a hex dump.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace telmar::sim {

using Bytes = std::vector<std::uint8_t>;

// Type, version, length, checksum, payload: the InfoFrame as it arrives on HDMI, with
// a checksum that makes all its bytes sum to 0 modulo 256.
Bytes infoFrame(std::uint8_t type, std::uint8_t version, std::span<const std::uint8_t> payload);

// ---- AVI InfoFrame -------------------------------------------------------------------

// Y, the colour format.
inline constexpr std::uint8_t kRgb = 0;
inline constexpr std::uint8_t kYcc422 = 1;
inline constexpr std::uint8_t kYcc444 = 2;
inline constexpr std::uint8_t kYcc420 = 3;
// C, and EC when C is kExtended.
inline constexpr std::uint8_t kNoColorimetry = 0;
inline constexpr std::uint8_t kBt709 = 2;
inline constexpr std::uint8_t kExtended = 3;
inline constexpr std::uint8_t kEcBt2020 = 6;
// M, the picture aspect of the coded frame.
inline constexpr std::uint8_t kAspect16x9 = 2;
// R, the active format (AFD code).
inline constexpr std::uint8_t kAfdBoxWiderThan16x9 = 4;
inline constexpr std::uint8_t kAfdSameAsFrame = 8;
// Q, the RGB quantisation range.
inline constexpr std::uint8_t kRangeDefault = 0;
inline constexpr std::uint8_t kRangeLimited = 1;
inline constexpr std::uint8_t kRangeFull = 2;
// S, scan information.
inline constexpr std::uint8_t kScanNoData = 0;
inline constexpr std::uint8_t kUnderscanned = 2;
// CN, the IT content type (meaningful with ITC set).
inline constexpr std::uint8_t kContentGame = 3;

// Line and pixel numbers where the bars end or start; a pair of zeros means that pair
// of bars is not signalled.
struct Bars {
    std::uint16_t topEnd = 0;
    std::uint16_t bottomStart = 0;
    std::uint16_t leftEnd = 0;
    std::uint16_t rightStart = 0;
};

struct Avi {
    std::uint8_t colourFormat = kRgb;
    std::uint8_t scan = kScanNoData;
    std::uint8_t colorimetry = kBt709;
    std::uint8_t extendedColorimetry = 0;
    std::uint8_t pictureAspect = kAspect16x9;
    std::optional<std::uint8_t> activeFormat = kAfdSameAsFrame; // nullopt: A0 clear
    std::uint8_t rgbRange = kRangeDefault;
    bool yccFullRange = false;
    std::optional<std::uint8_t> itContent = std::nullopt; // nullopt: ITC clear
    std::uint8_t vic = 0;
    Bars bars{};
};

// Payload bytes 1 to 13 (version 2).
std::array<std::uint8_t, 13> aviPayload(const Avi& avi);

// ---- Source Product Description InfoFrame ---------------------------------------------

inline constexpr std::uint8_t kSourceDigitalStb = 0x01;
inline constexpr std::uint8_t kSourceDvdPlayer = 0x02;
inline constexpr std::uint8_t kSourcePc = 0x09;
inline constexpr std::uint8_t kSourceBluRay = 0x0A;

// Vendor (8 bytes) and product (16 bytes) NUL-padded; a text of the full width has no NUL.
Bytes spdInfoFrame(std::string_view vendor, std::string_view product, std::uint8_t sourceDevice);

// ---- Dynamic Range and Mastering InfoFrame ------------------------------------------

inline constexpr std::uint8_t kEotfSdr = 0;
inline constexpr std::uint8_t kEotfPq = 2;
inline constexpr std::uint8_t kEotfHlg = 3;

struct Xy {
    double x = 0;
    double y = 0;
};

// Encoders commonly send the primaries green, blue, red.
inline constexpr std::array<Xy, 3> kP3D65Gbr{{{0.265, 0.690}, {0.150, 0.060}, {0.680, 0.320}}};
inline constexpr std::array<Xy, 3> kBt2020Rgb{{{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}}};
inline constexpr Xy kD65{0.3127, 0.3290};

// Static metadata type 1; all zeros means the source has none to give.
struct Mastering {
    std::uint8_t eotf = kEotfSdr;
    std::array<Xy, 3> primaries{}; // in the order sent
    Xy white{};
    std::uint16_t maxLuminance = 0; // cd/m2
    std::uint16_t minLuminance = 0; // 0.0001 cd/m2
    std::uint16_t maxCll = 0;       // cd/m2
    std::uint16_t maxFall = 0;      // cd/m2
};

Bytes drmInfoFrame(const Mastering& m);

// ---- Audio: IEC 60958 channel status and the Audio InfoFrame ----------------------------

// In the order of the box's own rate code.
enum class SampleRate : std::uint8_t { k32, k44_1, k48, k88_2, k96, k176_4, k192, k768 };

inline constexpr std::uint8_t kCategoryGeneral = 0x00;
inline constexpr std::uint8_t kCategoryDvd = 0x19;
// Word-length codes of channel status byte 4 (with the maximum-length bit).
inline constexpr std::uint8_t kWordNotIndicated = 0x0;
inline constexpr std::uint8_t kWord16 = 0x2;
inline constexpr std::uint8_t kWord24 = 0xB;

struct ChannelStatus {
    bool linearPcm = true;
    std::uint8_t category = kCategoryGeneral;
    SampleRate rate = SampleRate::k48;
    std::uint8_t wordLength = kWordNotIndicated;
};

// Audio InfoFrame speaker allocations (CA).
inline constexpr std::uint8_t kCa2_0 = 0x00;
inline constexpr std::uint8_t kCa5_1 = 0x0B; // FL FR LFE1 FC LS RS
inline constexpr std::uint8_t kCa7_1 = 0x13; // FL FR LFE1 FC LS RS BL BR

// Consumer channel status bytes 0 to 4: no copyright asserted, no pre-emphasis, source
// and channel not specified, Level II clock; linear PCM states its original rate too.
std::array<std::uint8_t, 5> channelStatusBytes(const ChannelStatus& cs);

// Audio InfoFrame payload bytes 1 to 4. Coding type, rate and sample size refer to the
// stream header, as HDMI sources send them; 0 channels refers the count there too.
std::array<std::uint8_t, 4> audioInfoPayload(unsigned channels, std::uint8_t allocation);

} // namespace telmar::sim
