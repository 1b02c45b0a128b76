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

std::string_view extendedFormatName(std::uint8_t code) {
    switch (code) {
    case 1:
        return "3840x2160p30";
    case 2:
        return "3840x2160p25";
    case 3:
        return "3840x2160p24";
    case 4:
        return "4096x2160p24";
    case 7:
        return "3840x2160p60";
    case 8:
        return "3840x2160p50";
    default:
        return {};
    }
}

std::string_view threeDStructureName(std::uint8_t structure) {
    switch (structure) {
    case InputStatusBlock::kFramePacking:
        return "Frame Packed 3D";
    case InputStatusBlock::kTopAndBottom:
        return "Top/Bottom 3D";
    case InputStatusBlock::kSideBySide:
        return "Side-by-side 3D";
    default:
        return {};
    }
}

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
        if (const auto name = extendedFormatName(input.vendorFormatDetail()); !name.empty()) {
            return line.append(name);
        }
    } else if (input.vendorFormat() == InputStatusBlock::kThreeDFormat) {
        if (const auto name = threeDStructureName(input.vendorFormatDetail()); !name.empty()) {
            line.append(format);
            extend(line, name);
            return line;
        }
    }
    return line.append(format);
}

std::string encryptionLine(const InputStatusBlock& input) {
    switch (input.hdcpCode()) {
    case InputStatusBlock::kHdcp14:
        return "Encryption: HDCP 1.4";
    case InputStatusBlock::kHdcp22:
        return "Encryption: HDCP 2.2";
    default:
        return "Encryption: none";
    }
}

std::string_view extendedColorimetryName(std::uint8_t code) {
    switch (code) {
    case 0x00:
        return "xvYCC601";
    case 0x10:
        return "xvYCC709";
    case 0x20:
        return "sYCC601";
    case 0x30:
        return "AdobeYCC601";
    case 0x40:
        return "AdobeRGB";
    case 0x50:
        return "ITU-R BT.2020 YcCbcCrc";
    case 0x60:
        return "ITU-R BT.2020";
    default:
        return {};
    }
}

std::string colourLine(const AviBlock& avi) {
    std::string line;
    switch (avi.colourFormat()) {
    case AviBlock::kYcc422:
        line = "Color: YCbCr 4:2:2";
        break;
    case AviBlock::kYcc444:
        line = "Color: YCbCr 4:4:4";
        break;
    case AviBlock::kYcc420:
        line = "Color: YCbCr 4:2:0";
        break;
    default:
        line = "Color: RGB";
        extend(line, avi.quantizationRange() == AviBlock::kLimitedRange ? "16-235" : "0-255");
        break;
    }
    switch (avi.colorimetry()) {
    case AviBlock::kSmpte170m:
        extend(line, "SMPTE 170M");
        break;
    case AviBlock::kBt709:
        extend(line, "ITU-R BT.709");
        break;
    case AviBlock::kExtendedColorimetry:
        extend(line, "Extended");
        if (const auto name = extendedColorimetryName(avi.extendedColorimetry()); !name.empty()) {
            extend(line, name);
        }
        break;
    default:
        break;
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
    switch (hdr.eotf()) {
    case HdrBlock::kSdrGamma:
        extend(line, "Not Active");
        break;
    case HdrBlock::kHdrGamma:
        extend(line, "HDR Luminance Range");
        break;
    case HdrBlock::kSmpteSt2084:
        extend(line, "SMPTE ST 2084");
        break;
    default:
        break;
    }
    return line;
}

std::string deepColourLine(const InputStatusBlock& input, const AviBlock& avi) {
    switch (input.colourDepthCode()) {
    case 5:
        return "Input Deep Color: 10-bit";
    case 6:
        return "Input Deep Color: 12-bit";
    case 7:
        return "Input Deep Color: 16-bit";
    default:
        return avi.colourFormat() == AviBlock::kYcc422 ? "Input Deep Color: up to 12-bit"
                                                       : "Input Deep Color: 8-bit";
    }
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
