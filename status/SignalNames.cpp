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
    switch (colorimetry) {
    case Colorimetry::Smpte170:
        return "SMPTE ST 170 (BT.601)";
    case Colorimetry::Bt709:
        return "ITU-R BT.709";
    case Colorimetry::XvYcc601:
        return "xvYCC601";
    case Colorimetry::XvYcc709:
        return "xvYCC709";
    case Colorimetry::SYcc601:
        return "sYCC601";
    case Colorimetry::OpYcc601:
        return "opYCC601";
    case Colorimetry::OpRgb:
        return "opRGB";
    case Colorimetry::Bt2020ConstantLuminance:
        return "ITU-R BT.2020 YcCbcCrc";
    case Colorimetry::Bt2020:
        return "ITU-R BT.2020 RGB or YCbCr";
    case Colorimetry::AdditionalExtension:
        return "additional colorimetry extension";
    }
    return kReserved;
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

std::string_view barInfoName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 4> kNames{
        "no bar data", "vertical bars", "horizontal bars", "vertical and horizontal bars"};
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
    switch (code) {
    case 0x00:
        return "general";
    case 0x40:
        return "experimental";
    case 0x01:
        return "CD (IEC 60908)";
    case 0x09:
        return "non-IEC 60908 CD";
    case 0x19:
        return "DVD";
    case 0x49:
        return "MiniDisc";
    case 0x79:
        return "other laser-optical";
    case 0x02:
        return "PCM coder";
    case 0x12:
        return "mixer";
    case 0x1A:
        return "sample-rate converter";
    case 0x22:
        return "sampler";
    case 0x2A:
        return "DSP";
    case 0x7A:
        return "other digital/digital converter";
    case 0x03:
        return "DAT";
    case 0x0B:
        return "VCR";
    case 0x1B:
        return "magnetic disc";
    case 0x43:
        return "DCC";
    case 0x7B:
        return "other magnetic tape/disc";
    case 0x04:
        return "broadcast reception, Japan";
    case 0x0C:
        return "broadcast reception, Europe";
    case 0x64:
        return "broadcast reception, USA";
    case 0x44:
        return "software delivery";
    case 0x24:
        return "IEC 62105";
    case 0x7C:
        return "other broadcast reception";
    case 0x05:
        return "synthesizer";
    case 0x0D:
        return "microphone";
    case 0x7D:
        return "other musical instrument";
    case 0x06:
        return "A/D converter without copyright information";
    case 0x66:
        return "other A/D converter without copyright information";
    case 0x16:
        return "A/D converter with copyright information";
    case 0x76:
        return "other A/D converter with copyright information";
    case 0x08:
        return "solid-state memory recorder/player";
    case 0x78:
        return "other solid-state memory";
    default:
        break;
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
