// SPDX-License-Identifier: MIT
#pragma once

// Everything blocks 11 to 15 say about the input, as typed values. A field the signal
// does not carry (no data, "refer to stream header", a reserved code with no value) is
// an empty optional, never 0. The seven status lines do not come from here: they keep
// their own reading of the same bytes (VideoStatus, AudioStatus).

#include "link/PanelLink.h"
#include "protocol/Frames.h"
#include "status/VideoTimingTable.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace telmar::status {

// Blocks 11 to 15 of one poll, each in the zero-filled reply area it was read into.
struct StatusBlocks {
    static constexpr std::uint8_t kFirstBlock = 11;
    static constexpr std::size_t kCount = 5;
    // Reply bytes asked for, block 11 first; bytes past these carry no meaning.
    static constexpr std::array<std::uint8_t, kCount> kLengths{
        protocol::block_count::InputStatus, protocol::block_count::Avi,
        protocol::block_count::SourceProduct, protocol::block_count::Hdr,
        protocol::block_count::AudioStatus};
    std::array<link::Reply, kCount> replies{};
    std::array<bool, kCount> read{}; // whether the block's read succeeded
};

// ---- Video: HDMI VSIF, GCP and the box's bits (block 11), AVI InfoFrame (block 12) --

enum class Hdcp : std::uint8_t { NotEncrypted, Hdcp14, Hdcp22 };
enum class ColourFormat : std::uint8_t { Rgb, Ycc422, Ycc444, Ycc420 }; // 4-6 reserved, 7 IDO
enum class Colorimetry : std::uint8_t {
    Smpte170 = 1,
    Bt709 = 2,
    XvYcc601 = 0x30, // 0x30 + EC when C = 3
    XvYcc709,
    SYcc601,
    OpYcc601,
    OpRgb,
    Bt2020ConstantLuminance,
    Bt2020,
    AdditionalExtension,
};
enum class RgbQuantization : std::uint8_t { Default, Limited, Full, Reserved };
enum class YccQuantization : std::uint8_t { Limited, Full, Reserved2, Reserved3 };
enum class Scan : std::uint8_t { Overscanned = 1, Underscanned, Reserved };
enum class SignalledAspect : std::uint8_t { k4x3 = 1, k16x9, Reserved };
enum class ContentType : std::uint8_t { Graphics, Photo, Cinema, Game };
enum class Scaling : std::uint8_t { None, Horizontal, Vertical, Both };

std::string_view hdcpName(Hdcp hdcp);
std::string_view hdmiVideoFormatName(std::uint8_t code); // HDMI_Video_Format, 0-7
std::string_view threeDStructureName(std::uint8_t code); // 3D_Structure, 0-15
std::string_view colourFormatName(std::uint8_t code);    // Y, 0-7
std::string_view colorimetryName(Colorimetry colorimetry);
std::string_view rgbQuantizationName(RgbQuantization q);
std::string_view yccQuantizationName(YccQuantization q);
std::string_view activeFormatName(std::uint8_t code); // R (AFD), 0-15
std::string_view scanName(Scan scan);
std::string_view signalledAspectName(SignalledAspect aspect);
std::string_view contentTypeName(ContentType type);
std::string_view scalingName(Scaling scaling);

// Bar edges, each only where the bar information names it valid.
struct Bars {
    std::optional<std::uint16_t> topEnd, bottomStart, leftEnd, rightStart;
    bool operator==(const Bars&) const = default;
};

struct VideoDetails {
    // Block 11.
    bool inputPresent = false;
    std::uint8_t hdmiVideoFormat = 0;
    std::optional<std::uint8_t> hdmiVic;         // HDMI_Video_Format 1
    std::optional<std::uint8_t> threeDStructure; // HDMI_Video_Format 2
    std::optional<bool> threeDMetaPresent;       // HDMI_Video_Format 2
    std::uint8_t hdcpCode = 0;
    Hdcp hdcp = Hdcp::NotEncrypted;
    std::uint8_t colourDepthCode = 0;
    std::optional<int> deepColorBits; // bits per component: 8, 10, 12 or 16

    // Block 12; all empty when its read failed.
    bool aviRead = false;
    std::optional<std::uint8_t> vic;
    // From the VIC, else from the HDMI_VIC; empty for a reserved code or none.
    std::optional<VideoTiming> timing;
    std::optional<std::uint8_t> colourFormatCode;
    std::optional<std::uint8_t> colorimetryCode;         // C
    std::optional<std::uint8_t> extendedColorimetryCode; // EC
    std::optional<Colorimetry> colorimetry;
    std::optional<RgbQuantization> rgbQuantization;
    std::optional<YccQuantization> yccQuantization; // only for YCbCr
    std::optional<std::uint8_t> activeFormat;       // only with A0 = 1
    std::optional<Scan> scan;
    std::optional<std::uint8_t> barInfoCode;
    std::optional<Bars> bars;
    std::optional<SignalledAspect> signalledAspect; // M
    std::optional<bool> itContent;
    std::optional<ContentType> contentType;
    std::optional<std::uint8_t> pixelRepetitionCode;
    std::optional<int> pixelRepetition; // times each pixel is sent
    std::optional<Scaling> scaling;
    bool operator==(const VideoDetails&) const = default;
};

// ---- HDR: Dynamic Range and Mastering InfoFrame (block 14) --------------------------

enum class Gamut : std::uint8_t { Bt709, DciP3D65, Bt2020, Other };
std::string_view eotfName(std::uint8_t code); // 0-7
std::string_view gamutName(Gamut gamut);

// Primaries within this distance in x and in y of every reference point name a gamut;
// a white point within kWhitePointTolerance of 0.3127,0.3290 is D65.
inline constexpr double kGamutTolerance = 0.005;
inline constexpr double kWhitePointTolerance = 0.0005;

struct Chromaticity {
    std::uint16_t xCode = 0, yCode = 0; // units of 0.00002
    double x() const { return xCode * 0.00002; }
    double y() const { return yCode * 0.00002; }
    bool operator==(const Chromaticity&) const = default;
};

struct MasteringMetadata {
    // Put in red, green, blue order: red has the largest x, green the largest y of the
    // other two, blue is the one left; sentIndex says where each one was sent.
    Chromaticity red, green, blue, white;
    std::array<std::uint8_t, 3> sentIndex{};
    Gamut gamut = Gamut::Other;
    bool whiteIsD65 = false;
    std::uint16_t maxLuminance = 0;     // cd/m2
    std::uint16_t minLuminanceCode = 0; // units of 0.0001 cd/m2
    std::uint16_t maxCll = 0;           // cd/m2
    std::uint16_t maxFall = 0;          // cd/m2
    double minLuminance() const { return minLuminanceCode * 0.0001; }
    bool operator==(const MasteringMetadata&) const = default;
};

struct HdrDetails {
    bool present = false; // type 0x87, version 1, length not 0
    std::uint8_t length = 0;
    // Empty when the length runs past the bytes read, so the sum cannot be formed.
    std::optional<bool> checksumOk;
    std::optional<std::uint8_t> eotfCode;
    std::optional<std::uint8_t> descriptorId;
    // Static Metadata Type 1 with its whole 26-byte payload.
    std::optional<MasteringMetadata> metadata;
    bool operator==(const HdrDetails&) const = default;
};

// ---- Source: Source Product Description InfoFrame (block 13) ------------------------

std::string_view deviceTypeName(std::uint8_t code);

struct SourceDetails {
    bool present = false; // type 0x83, version 1, length not 0
    std::uint8_t length = 0;
    std::optional<bool> checksumOk;
    // Latin-1 with control bytes as '?'; empty optionals when the frame is absent.
    std::optional<std::string> vendor, product;
    std::optional<std::uint8_t> deviceTypeCode; // only within the payload
    bool operator==(const SourceDetails&) const = default;
};

// ---- Audio: the box's bits, IEC 60958 channel status, Audio InfoFrame (block 15) ----

enum class Speaker : std::uint8_t {
    None,
    FL,
    FR,
    LFE1,
    FC,
    LS,
    RS,
    BC,
    BL,
    BR,
    FLc,
    FRc,
    TpFC,
    TpC,
    TpFL,
    TpFR,
    FLw,
    FRw,
};
std::string_view speakerName(Speaker speaker);
std::string_view codingTypeName(std::uint8_t code);      // CT, 0-15
std::string_view codingExtensionName(std::uint8_t code); // CXT, 0-31
std::string_view categoryCodeName(std::uint8_t code);    // channel status byte 1 b6-0
std::string_view clockAccuracyName(std::uint8_t code);   // 0-3
std::string_view preEmphasisName(std::uint8_t code);     // linear PCM b5-3

// Consumer-format channel status; absent when byte 0 says professional use.
struct ConsumerChannelStatus {
    bool linearPcm = true;
    bool copyrightAsserted = false;
    std::optional<std::uint8_t> preEmphasisCode; // linear PCM only
    std::uint8_t mode = 0;
    std::uint8_t categoryCode = 0;
    bool generationBit = false;
    std::optional<std::uint8_t> sourceNumber, channelNumber; // 0 = not specified
    std::uint8_t sampleRateCode = 0;
    std::optional<std::uint32_t> sampleRateHz;
    std::uint8_t clockAccuracyCode = 0;
    std::uint8_t wordLengthCode = 0;
    std::optional<int> wordLengthBits;
    std::uint8_t originalRateCode = 0;
    std::optional<std::uint32_t> originalSampleRateHz;
    bool operator==(const ConsumerChannelStatus&) const = default;
};

struct AudioInfoFrame {
    std::uint8_t codingTypeCode = 0;
    std::optional<std::uint8_t> codingType; // empty for "refer to stream header"
    std::optional<int> channelCount;
    std::optional<std::uint32_t> sampleRateHz;
    std::optional<int> sampleSizeBits;
    std::optional<std::uint8_t> codingExtension; // empty for "refer to CT"
    std::uint8_t allocationCode = 0;
    // Channel slots 1 to 8 (Speaker::None for an unused slot); empty for a reserved code.
    std::optional<std::array<Speaker, 8>> channelSlots;
    std::vector<Speaker> speakers() const;
    bool operator==(const AudioInfoFrame&) const = default;
};

struct AudioDetails {
    std::uint8_t boxRateCode = 0;
    std::uint32_t sampleRateHz = 0; // the box's own measure
    bool hbr = false;
    bool professional = false;
    std::optional<ConsumerChannelStatus> channelStatus;
    AudioInfoFrame infoFrame;
    bool operator==(const AudioDetails&) const = default;
};

// ---- The whole poll ---------------------------------------------------------------

struct RawBlock {
    std::uint8_t number = 0;
    bool read = false;
    std::uint8_t length = 0; // bytes shown, those asked for
    std::array<std::uint8_t, 33> bytes{};
    bool operator==(const RawBlock&) const = default;
};

struct SignalDetails {
    VideoDetails video;
    std::optional<HdrDetails> hdr;       // empty when block 14's read failed
    std::optional<SourceDetails> source; // empty when block 13's read failed
    std::optional<AudioDetails> audio;   // empty when block 15 was not read
    std::array<RawBlock, StatusBlocks::kCount> raw{};
    bool operator==(const SignalDetails&) const = default;
};

// Reads only the bytes each block was asked for, so any contents give a value or an
// empty field for everything.
SignalDetails decodeSignalDetails(const StatusBlocks& blocks);

// "3840x2160p60"; empty when neither code names a timing.
std::string formatName(const VideoDetails& video);

} // namespace telmar::status
