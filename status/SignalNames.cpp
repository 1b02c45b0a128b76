// SPDX-License-Identifier: MIT
// The standards' names of the codes in SignalDetails. Every name is ASCII.
#include "status/SignalDetails.h"

#include <array>

namespace telmar::status {

namespace {

constexpr std::string_view kReserved = "reserved";

template <std::size_t N>
std::string_view pick(const std::array<std::string_view, N>& names, unsigned code) {
    return code < N && !names[code].empty() ? names[code] : kReserved;
}

} // namespace

std::string_view hdcpName(Hdcp hdcp) {
    static constexpr std::array<std::string_view, 3> kNames{"not encrypted", "HDCP 1.4",
                                                            "HDCP 2.2"};
    return pick(kNames, static_cast<unsigned>(hdcp));
}

std::string_view hdmiVideoFormatName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 3> kNames{
        "no additional HDMI video format", "extended resolution format", "3D format"};
    return pick(kNames, code);
}

std::string_view threeDStructureName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 16> kNames{
        "frame packing",
        "field alternative",
        "line alternative",
        "side-by-side (full)",
        "L + depth",
        "L + depth + graphics + graphics-depth",
        "top-and-bottom",
        "",
        "side-by-side (half)",
        "",
        "",
        "",
        "",
        "",
        "",
        "not in use"};
    return pick(kNames, code);
}

std::string_view colourFormatName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 8> kNames{
        "RGB", "YCbCr 4:2:2", "YCbCr 4:4:4", "YCbCr 4:2:0", "", "", "", "IDO-defined"};
    return pick(kNames, code);
}

std::string_view colorimetryName(Colorimetry colorimetry) {
    static constexpr std::array<std::string_view, 3> kPlain{"", "SMPTE ST 170 (BT.601)",
                                                            "ITU-R BT.709"};
    // The extended codes follow at 0x30, one per EC value.
    static constexpr std::array<std::string_view, 8> kExtended{"xvYCC601",
                                                               "xvYCC709",
                                                               "sYCC601",
                                                               "opYCC601",
                                                               "opRGB",
                                                               "ITU-R BT.2020 YcCbcCrc",
                                                               "ITU-R BT.2020 RGB or YCbCr",
                                                               "additional colorimetry extension"};
    const auto code = static_cast<unsigned>(colorimetry);
    return code >= 0x30 ? pick(kExtended, code - 0x30) : pick(kPlain, code);
}

std::string_view rgbQuantizationName(RgbQuantization q) {
    static constexpr std::array<std::string_view, 3> kNames{"default", "limited", "full"};
    return pick(kNames, static_cast<unsigned>(q));
}

std::string_view yccQuantizationName(YccQuantization q) {
    static constexpr std::array<std::string_view, 2> kNames{"limited", "full"};
    return pick(kNames, static_cast<unsigned>(q));
}

std::string_view activeFormatName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 16> kNames{"",
                                                             "",
                                                             "16:9 box at top",
                                                             "14:9 box at top",
                                                             "box wider than 16:9, centred",
                                                             "",
                                                             "",
                                                             "",
                                                             "same as the coded frame",
                                                             "4:3 centre",
                                                             "16:9 centre",
                                                             "14:9 centre",
                                                             "",
                                                             "4:3 with 14:9 shoot-and-protect",
                                                             "16:9 with 14:9 shoot-and-protect",
                                                             "16:9 with 4:3 shoot-and-protect"};
    return pick(kNames, code);
}

std::string_view scanName(Scan scan) {
    static constexpr std::array<std::string_view, 3> kNames{"", "overscanned", "underscanned"};
    return pick(kNames, static_cast<unsigned>(scan));
}

std::string_view signalledAspectName(SignalledAspect aspect) {
    static constexpr std::array<std::string_view, 3> kNames{"", "4:3", "16:9"};
    return pick(kNames, static_cast<unsigned>(aspect));
}

std::string_view contentTypeName(ContentType type) {
    static constexpr std::array<std::string_view, 4> kNames{"graphics", "photo", "cinema", "game"};
    return pick(kNames, static_cast<unsigned>(type));
}

std::string_view scalingName(Scaling scaling) {
    static constexpr std::array<std::string_view, 4> kNames{"none known", "scaled horizontally",
                                                            "scaled vertically",
                                                            "scaled horizontally and vertically"};
    return pick(kNames, static_cast<unsigned>(scaling));
}

std::string_view eotfName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 4> kNames{
        "traditional gamma, SDR luminance range", "traditional gamma, HDR luminance range",
        "SMPTE ST 2084 (PQ)", "hybrid log-gamma (HLG)"};
    return pick(kNames, code);
}

std::string_view gamutName(Gamut gamut) {
    static constexpr std::array<std::string_view, 4> kNames{"BT.709", "DCI-P3 D65", "BT.2020",
                                                            "other"};
    return pick(kNames, static_cast<unsigned>(gamut));
}

std::string_view deviceTypeName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 14> kNames{
        "unknown", "Digital STB", "DVD player", "D-VHS",      "HDD Videorecorder", "DVC",
        "DSC",     "Video CD",    "Game",       "PC general", "Blu-Ray Disc (BD)", "Super Audio CD",
        "HD DVD",  "PMP"};
    return pick(kNames, code);
}

std::string_view speakerName(Speaker speaker) {
    static constexpr std::array<std::string_view, 18> kNames{
        "-",  "FL",  "FR",  "LFE1", "FC",  "LS",   "RS",   "BC",  "BL",
        "BR", "FLc", "FRc", "TpFC", "TpC", "TpFL", "TpFR", "FLw", "FRw"};
    return pick(kNames, static_cast<unsigned>(speaker));
}

std::string_view codingTypeName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 16> kNames{"refer to stream header",
                                                             "L-PCM",
                                                             "AC-3",
                                                             "MPEG-1 (layers 1/2)",
                                                             "MP3 (MPEG-1 layer 3)",
                                                             "MPEG-2 multichannel",
                                                             "AAC LC",
                                                             "DTS",
                                                             "ATRAC",
                                                             "DSD (one bit audio)",
                                                             "E-AC-3",
                                                             "DTS-HD",
                                                             "MAT (MLP)",
                                                             "DST",
                                                             "WMA Pro",
                                                             "refer to CXT"};
    return pick(kNames, code);
}

std::string_view codingExtensionName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 16> kNames{"refer to CT",
                                                             "not in use",
                                                             "not in use",
                                                             "not in use",
                                                             "MPEG-4 HE AAC",
                                                             "MPEG-4 HE AAC v2",
                                                             "MPEG-4 AAC LC",
                                                             "DRA",
                                                             "MPEG-4 HE AAC + MPEG Surround",
                                                             "",
                                                             "MPEG-4 AAC LC + MPEG Surround",
                                                             "MPEG-H 3D Audio",
                                                             "AC-4",
                                                             "L-PCM 3D audio",
                                                             "Auro-Cx",
                                                             "MPEG-D USAC"};
    return pick(kNames, code);
}

std::string_view categoryCodeName(std::uint8_t code) {
    struct Category {
        std::uint8_t code;
        std::string_view name;
    };
    static constexpr Category kCategories[] = {
        {0x00, "general"},
        {0x40, "experimental"},
        {0x01, "CD (IEC 60908)"},
        {0x09, "non-IEC 60908 CD"},
        {0x19, "DVD"},
        {0x49, "MiniDisc"},
        {0x79, "other laser-optical"},
        {0x02, "PCM coder"},
        {0x12, "mixer"},
        {0x1A, "sample-rate converter"},
        {0x22, "sampler"},
        {0x2A, "DSP"},
        {0x7A, "other digital/digital converter"},
        {0x03, "DAT"},
        {0x0B, "VCR"},
        {0x1B, "magnetic disc"},
        {0x43, "DCC"},
        {0x7B, "other magnetic tape/disc"},
        {0x04, "broadcast reception, Japan"},
        {0x0C, "broadcast reception, Europe"},
        {0x64, "broadcast reception, USA"},
        {0x44, "software delivery"},
        {0x24, "IEC 62105"},
        {0x7C, "other broadcast reception"},
        {0x05, "synthesizer"},
        {0x0D, "microphone"},
        {0x7D, "other musical instrument"},
        {0x06, "A/D converter without copyright information"},
        {0x66, "other A/D converter without copyright information"},
        {0x16, "A/D converter with copyright information"},
        {0x76, "other A/D converter with copyright information"},
        {0x08, "solid-state memory recorder/player"},
        {0x78, "other solid-state memory"}};
    for (const Category& c : kCategories) {
        if (c.code == code) {
            return c.name;
        }
    }
    // The second broadcast reception group.
    return (code & 0x0F) == 0x0E ? "broadcast reception" : kReserved;
}

std::string_view clockAccuracyName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 4> kNames{
        "Level II (+-1000 ppm)", "Level I (+-50 ppm)", "Level III (variable pitch shifted)",
        "not matched to the sampling frequency"};
    return pick(kNames, code);
}

std::string_view preEmphasisName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 2> kNames{"none", "50/15 us"};
    return pick(kNames, code);
}

} // namespace telmar::status
