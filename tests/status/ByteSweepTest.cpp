// SPDX-License-Identifier: MIT
// Every value of every byte the texts read, one byte at a time, gives a defined line.
// Each block sits in its own heap allocation so the sanitizers see any read past it.
#include "status/AudioStatus.h"
#include "tests/status/Blocks.h"

#include <gtest/gtest.h>
#include <memory>
#include <regex>

namespace telmar::test {
namespace {

const std::regex kInput(R"(Input : (\d+x\d+[pi]\d+[nw]?)?)"
                        R"(( (Frame Packed|Top/Bottom|Side-by-side) 3D)?)");
const std::regex kEncryption(R"(Encryption: (HDCP 1\.4|HDCP 2\.2|none))");
const std::regex kColor(R"(Color: (RGB (16-235|0-255)|YCbCr 4:(2:2|4:4|2:0)))"
                        R"(( SMPTE 170M| ITU-R BT\.709| Extended( xvYCC601| xvYCC709| sYCC601)"
                        R"(| AdobeYCC601| AdobeRGB| ITU-R BT\.2020 YcCbcCrc| ITU-R BT\.2020)?)?)");
const std::regex kHdr(R"(HDR: (Not Active|( Not Active| HDR Luminance Range| SMPTE ST 2084)?))");
const std::regex kDeep(R"(Input Deep Color: (8-bit|10-bit|12-bit|16-bit|up to 12-bit))");
const std::regex kAudio(R"(Audio: (HBR )?bitstream|Audio: L-PCM )"
                        R"((32kHz|44\.1kHz|48kHz|88\.2kHz|96kHz|176kHz|192kHz|768KHz) )"
                        R"((--ch|2\.0ch|2\.1ch|3\.0ch|3\.1ch|4\.0ch|4\.1ch|5\.0ch|5\.1ch|6\.0ch)"
                        R"(|6\.1ch|7\.0ch|7\.1ch) (16bit|18bit|20bit|24bit))");

void expectDefined(const status::VideoLines& lines) {
    EXPECT_TRUE(std::regex_match(lines.input, kInput)) << lines.input;
    EXPECT_TRUE(std::regex_match(lines.encryption, kEncryption)) << lines.encryption;
    EXPECT_TRUE(std::regex_match(lines.color, kColor)) << lines.color;
    EXPECT_TRUE(std::regex_match(lines.hdr, kHdr)) << lines.hdr;
    EXPECT_TRUE(std::regex_match(lines.deepColor, kDeep)) << lines.deepColor;
    // "Source: ", 8 vendor bytes, a blank, 16 description bytes; never a NUL.
    EXPECT_TRUE(lines.source == "Source: no info received" ||
                (lines.source.starts_with("Source: ") && lines.source.size() <= 33))
        << lines.source;
    EXPECT_EQ(lines.source.find('\0'), std::string::npos);
}

status::VideoLines composeApart(const VideoBlocks& b) {
    const auto input = std::make_unique<Reply>(b.input), avi = std::make_unique<Reply>(b.avi),
               source = std::make_unique<Reply>(b.source), hdr = std::make_unique<Reply>(b.hdr);
    return status::composeVideoLines(*input, *avi, *source, *hdr);
}

struct SweptByte {
    Reply VideoBlocks::*block;
    std::size_t offset;
    std::uint8_t vendorFormat; // input status offset 2 of the fixed bytes
};

TEST(ByteSweepTest, EveryVideoByteValueGivesDefinedLines) {
    std::vector<SweptByte> swept{{&VideoBlocks::input, 3, 0x20}};
    for (std::size_t offset : {2, 3, 4, 5, 6}) {
        swept.push_back({&VideoBlocks::input, offset, 0x40});
    }
    for (std::size_t offset : {4, 5, 6, 7}) {
        swept.push_back({&VideoBlocks::avi, offset, 0x40});
    }
    for (std::size_t offset = 2; offset < 30; ++offset) {
        swept.push_back({&VideoBlocks::source, offset, 0x40});
    }
    for (std::size_t offset : {2, 3, 4, 6}) {
        swept.push_back({&VideoBlocks::hdr, offset, 0x40});
    }
    for (const SweptByte& s : swept) {
        for (int value = 0; value < 256; ++value) {
            VideoBlocks b;
            b.input[2] = s.vendorFormat;
            b.avi[5] = 0xC0, b.avi[7] = 16;
            b.spd("VENDORXX", "PRODUCT-16-BYTES");
            b.drm(2);
            (b.*s.block)[s.offset] = static_cast<std::uint8_t>(value);
            SCOPED_TRACE(testing::Message() << "offset " << s.offset << " value " << value);
            expectDefined(composeApart(b));
        }
    }
}

TEST(ByteSweepTest, EveryAudioByteValueGivesADefinedLine) {
    auto line = [](std::size_t offset, int value, std::uint8_t count) {
        auto block = std::make_unique<Reply>();
        (*block)[0] = 0xE0, (*block)[4] = 2, (*block)[12] = count;
        (*block)[offset] = static_cast<std::uint8_t>(value);
        return status::composeAudioLine(*block);
    };
    for (int value = 0; value < 256; ++value) {
        for (std::size_t offset : {4, 5, 9, 12}) {
            EXPECT_TRUE(std::regex_match(line(offset, value, 1), kAudio)) << offset << " " << value;
        }
        for (std::uint8_t count = 0; count < 8; ++count) {
            const std::string text = line(15, value, count);
            EXPECT_TRUE(std::regex_match(text, kAudio)) << int{count} << " " << value << text;
        }
    }
}

} // namespace
} // namespace telmar::test
