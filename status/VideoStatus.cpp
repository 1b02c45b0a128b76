// SPDX-License-Identifier: MIT
#include "status/VideoStatus.h"

#include "protocol/StatusBlocks.h"
#include "status/VideoFormatTable.h"

#include <string_view>

namespace telmar::status {

namespace {

using protocol::AviBlock;
using protocol::HdrBlock;
using protocol::InputStatusBlock;
using protocol::SourceProductBlock;

// A format beginning "%s " extends the line: a blank and the rest are appended.
void extend(std::string& line, std::string_view rest) {
    line += ' ';
    line += rest;
}

struct Named {
    std::uint8_t code;
    std::string_view name;
};

// The name `names` gives `code`; empty when it gives none.
template <std::size_t N> std::string_view nameOf(const Named (&names)[N], std::uint8_t code) {
    for (const Named& n : names) {
        if (n.code == code) {
            return n.name;
        }
    }
    return {};
}

constexpr Named kExtendedFormats[] = {{1, "3840x2160p30"}, {2, "3840x2160p25"},
                                      {3, "3840x2160p24"}, {4, "4096x2160p24"},
                                      {7, "3840x2160p60"}, {8, "3840x2160p50"}};
constexpr Named kThreeDStructures[] = {{InputStatusBlock::kFramePacking, "Frame Packed 3D"},
                                       {InputStatusBlock::kTopAndBottom, "Top/Bottom 3D"},
                                       {InputStatusBlock::kSideBySide, "Side-by-side 3D"}};
constexpr Named kEncryptions[] = {{InputStatusBlock::kHdcp14, "HDCP 1.4"},
                                  {InputStatusBlock::kHdcp22, "HDCP 2.2"}};
constexpr Named kColourFormats[] = {{AviBlock::kYcc422, "YCbCr 4:2:2"},
                                    {AviBlock::kYcc444, "YCbCr 4:4:4"},
                                    {AviBlock::kYcc420, "YCbCr 4:2:0"}};
constexpr Named kColorimetries[] = {{AviBlock::kSmpte170m, "SMPTE 170M"},
                                    {AviBlock::kBt709, "ITU-R BT.709"},
                                    {AviBlock::kExtendedColorimetry, "Extended"}};
constexpr Named kExtendedColorimetries[] = {
    {0x00, "xvYCC601"},     {0x10, "xvYCC709"}, {0x20, "sYCC601"},
    {0x30, "AdobeYCC601"},  {0x40, "AdobeRGB"}, {0x50, "ITU-R BT.2020 YcCbcCrc"},
    {0x60, "ITU-R BT.2020"}};
constexpr Named kEotfs[] = {{HdrBlock::kSdrGamma, "Not Active"},
                            {HdrBlock::kHdrGamma, "HDR Luminance Range"},
                            {HdrBlock::kSmpteSt2084, "SMPTE ST 2084"}};
constexpr Named kDeepColours[] = {{5, "10-bit"}, {6, "12-bit"}, {7, "16-bit"}};

// An extended code or 3D structure the box may send but the line has no name for
// falls back to the plain "Input : <format>" line, so the label always shows the
// format the AVI InfoFrame names instead of a stale or empty text.
std::string inputLine(const InputStatusBlock& input, const AviBlock& avi) {
    VideoFormatName shortName{};
    VideoFormatName fullName{};
    lookupVideoFormat(avi.videoCode(), shortName, fullName);
    const std::string_view format(fullName.data());

    std::string line = "Input : ";
    if (input.vendorFormat() == InputStatusBlock::kExtendedFormat) {
        if (const auto name = nameOf(kExtendedFormats, input.vendorFormatDetail()); !name.empty()) {
            return line.append(name);
        }
    } else if (input.vendorFormat() == InputStatusBlock::kThreeDFormat) {
        if (const auto name = nameOf(kThreeDStructures, input.vendorFormatDetail());
            !name.empty()) {
            line.append(format);
            extend(line, name);
            return line;
        }
    }
    return line.append(format);
}

std::string encryptionLine(const InputStatusBlock& input) {
    const std::string_view name = nameOf(kEncryptions, input.hdcpCode());
    return "Encryption: " + std::string(name.empty() ? "none" : name);
}

std::string colourLine(const AviBlock& avi) {
    std::string line = "Color: ";
    if (const auto name = nameOf(kColourFormats, avi.colourFormat()); !name.empty()) {
        line.append(name);
    } else {
        line.append("RGB");
        extend(line, avi.quantizationRange() == AviBlock::kLimitedRange ? "16-235" : "0-255");
    }
    if (const auto name = nameOf(kColorimetries, avi.colorimetry()); !name.empty()) {
        extend(line, name);
    }
    if (avi.colorimetry() == AviBlock::kExtendedColorimetry) {
        if (const auto name = nameOf(kExtendedColorimetries, avi.extendedColorimetry());
            !name.empty()) {
            extend(line, name);
        }
    }
    return line;
}

std::string sourceLine(const SourceProductBlock& source) {
    if (!source.valid()) {
        return "Source: no info received";
    }
    std::string line = "Source: " + source.vendorName();
    extend(line, source.productDescription());
    return line;
}

std::string hdrLine(const HdrBlock& hdr) {
    if (!hdr.valid()) {
        return "HDR: Not Active";
    }
    std::string line = "HDR: ";
    if (const auto name = nameOf(kEotfs, hdr.eotf()); !name.empty()) {
        extend(line, name);
    }
    return line;
}

std::string deepColourLine(const InputStatusBlock& input, const AviBlock& avi) {
    std::string line = "Input Deep Color: ";
    if (const auto name = nameOf(kDeepColours, input.colourDepthCode()); !name.empty()) {
        return line.append(name);
    }
    return line.append(avi.colourFormat() == AviBlock::kYcc422 ? "up to 12-bit" : "8-bit");
}

} // namespace

VideoLines composeVideoLines(const link::Reply& inputStatus, const link::Reply& avi,
                             const link::Reply& sourceProduct, const link::Reply& hdr) {
    const InputStatusBlock input(inputStatus);
    const AviBlock aviBlock(avi);
    return VideoLines{
        .input = inputLine(input, aviBlock),
        .encryption = encryptionLine(input),
        .color = colourLine(aviBlock),
        .source = sourceLine(SourceProductBlock(sourceProduct)),
        .hdr = hdrLine(HdrBlock(hdr)),
        .deepColor = deepColourLine(input, aviBlock),
    };
}

} // namespace telmar::status
