// SPDX-License-Identifier: MIT
#include "status/AudioStatus.h"
#include "status/StatusUpdate.h"
#include "status/VideoFormatTable.h"
#include "tests/status/Blocks.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

namespace telmar::test {
namespace {

using status::VideoLines;

std::pair<std::string, std::string> names(std::uint16_t code) {
    status::VideoFormatName shortName, fullName;
    shortName.fill('x');
    fullName.fill('x');
    status::lookupVideoFormat(code, shortName, fullName);
    return {shortName.data(), fullName.data()};
}

TEST(VideoFormatTable, NamesCodes) {
    const std::pair<std::uint16_t, std::pair<std::string, std::string>> cases[] = {
        {0, {"bypass", ""}},
        {16, {"1080p60", "1920x1080p60"}},
        {94, {"4kx2k25", "3840x2160p25"}},
        {99, {"4kx2k25", "4096x2160p25"}},
        {107, {"4kx2k60", "3840x2160p60"}},
        {111, {"1080p48", "1920x1080p48"}},
        {115, {"4kx2ksmp48", "4096x2160p48"}},
        {127, {"5kx2k100", "5120x2160p100"}},
        {128, {"", ""}},
        {255, {"", ""}},
        {65535, {"", ""}},
        {79, {"1680p24", "1680x720p24"}},
        {80, {"1680p25", "1680x720p25"}},
        {91, {"2560p100", "2560x1080p100"}},
        {92, {"2560p120", "2560x1080p120"}},
    };
    for (const auto& [code, expected] : cases) {
        EXPECT_EQ(names(code), expected) << "code " << code;
    }
}

TEST(VideoFormatTable, WideVariantsCarryTheNamesOfTheir16By9Twins) {
    const std::pair<std::uint16_t, std::uint16_t> twins[] = {
        {65, 60},  {66, 61},   {67, 62},   {68, 19},   {69, 4},    {70, 41},
        {71, 47},  {72, 32},   {73, 33},   {74, 34},   {75, 31},   {76, 16},
        {77, 64},  {78, 63},   {103, 93},  {104, 94},  {105, 95},  {106, 96},
        {107, 97}, {109, 108}, {112, 111}, {116, 114}, {119, 117}, {120, 118}};
    for (const auto& [wide, twin] : twins) {
        EXPECT_EQ(names(wide), names(twin)) << "code " << wide;
    }
}

// Active size and frame rate that CTA-861-G gives codes 108 to 127.
TEST(VideoFormatTable, FormatsPast107MatchTheStandard) {
    struct Format {
        std::uint16_t code;
        int width, height, rate;
    };
    const Format standard[] = {
        {108, 1280, 720, 48},   {109, 1280, 720, 48},   {110, 1680, 720, 48},
        {111, 1920, 1080, 48},  {112, 1920, 1080, 48},  {113, 2560, 1080, 48},
        {114, 3840, 2160, 48},  {115, 4096, 2160, 48},  {116, 3840, 2160, 48},
        {117, 3840, 2160, 100}, {118, 3840, 2160, 120}, {119, 3840, 2160, 100},
        {120, 3840, 2160, 120}, {121, 5120, 2160, 24},  {122, 5120, 2160, 25},
        {123, 5120, 2160, 30},  {124, 5120, 2160, 48},  {125, 5120, 2160, 50},
        {126, 5120, 2160, 60},  {127, 5120, 2160, 100},
    };
    for (const Format& f : standard) {
        const auto [shortName, fullName] = names(f.code);
        EXPECT_EQ(fullName, std::to_string(f.width) + "x" + std::to_string(f.height) + "p" +
                                std::to_string(f.rate))
            << "code " << f.code;
        // Short names end in the rate, like every progressive row.
        EXPECT_TRUE(shortName.ends_with(std::to_string(f.rate))) << "code " << f.code;
    }
    VideoBlocks b;
    b.avi[7] = 111;
    EXPECT_EQ(b.lines().input, "Input : 1920x1080p48");
}

TEST(VideoLinesTest, InputLine) {
    // F (input offset 2), E (offset 3), video code (AVI offset 7)
    const std::tuple<std::uint8_t, std::uint8_t, std::uint8_t, std::string> cases[] = {
        {0x20, 1, 16, "Input : 3840x2160p30"},
        {0x20, 4, 0, "Input : 4096x2160p24"},
        {0x20, 8, 0, "Input : 3840x2160p50"},
        {0x20, 5, 97, "Input : 3840x2160p60"},
        {0x40, 0x20, 16, "Input : 1920x1080p60"},
        {0, 0, 0, "Input : "},
        {0x00, 0x80, 200, "Input : "},
        {0x40, 0x80, 16, "Input : 1920x1080p60 Side-by-side 3D"},
        {0x40, 0x60, 4, "Input : 1280x720p60 Top/Bottom 3D"},
        {0x40, 0x00, 32, "Input : 1920x1080p24 Frame Packed 3D"},
    };
    for (const auto& [f, e, code, expected] : cases) {
        VideoBlocks b;
        b.input[2] = f, b.input[3] = e, b.avi[7] = code;
        EXPECT_EQ(b.lines().input, expected);
    }
}

TEST(VideoLinesTest, EncryptionAndDeepColourLines) {
    // input offsets 4 and 5, AVI offset 4
    const std::tuple<std::uint8_t, std::uint8_t, std::uint8_t, std::string, std::string> cases[] = {
        {0x04, 4, 0x20, "Encryption: HDCP 2.2", "Input Deep Color: up to 12-bit"},
        {0x06, 6, 0x20, "Encryption: none", "Input Deep Color: 12-bit"},
        {0xFB, 0xF5, 0, "Encryption: HDCP 1.4", "Input Deep Color: 10-bit"},
        {0x01, 7, 0x40, "Encryption: none", "Input Deep Color: 16-bit"},
        {0x00, 8, 0x60, "Encryption: none", "Input Deep Color: 8-bit"},
    };
    for (const auto& [hdcp, depth, format, encryption, deep] : cases) {
        VideoBlocks b;
        b.input[4] = hdcp, b.input[5] = depth, b.avi[4] = format;
        EXPECT_EQ(b.lines().encryption, encryption);
        EXPECT_EQ(b.lines().deepColor, deep);
    }
}

TEST(VideoLinesTest, ColourLine) {
    // AVI offsets 4, 5, 6
    const std::tuple<std::uint8_t, std::uint8_t, std::uint8_t, std::string> cases[] = {
        {0, 0, 0x08, "Color: RGB 0-255"},
        {0, 0, 0x0C, "Color: RGB 0-255"},
        {0x20, 0x40, 0x04, "Color: YCbCr 4:2:2 SMPTE 170M"},
        {0xDF, 0, 0, "Color: YCbCr 4:4:4"},
        {0, 0xC0, 0x70, "Color: RGB 0-255 Extended"},
        {0x60, 0xC0, 0x60, "Color: YCbCr 4:2:0 Extended ITU-R BT.2020"},
        {0, 0xFF, 0x50, "Color: RGB 0-255 Extended ITU-R BT.2020 YcCbcCrc"},
        {0, 0xC0, 0x34, "Color: RGB 16-235 Extended AdobeYCC601"},
        {0x40, 0xC0, 0x10, "Color: YCbCr 4:4:4 Extended xvYCC709"},
    };
    for (const auto& [format, colorimetry, extended, expected] : cases) {
        VideoBlocks b;
        b.avi[4] = format, b.avi[5] = colorimetry, b.avi[6] = extended;
        EXPECT_EQ(b.lines().color, expected);
    }
}

TEST(VideoLinesTest, SourceAndHdrLines) {
    const std::tuple<std::function<void(VideoBlocks&)>, std::string, std::string> cases[] = {
        {[](auto& b) { b.spd("Vendor", "Player"), b.drm(0); }, "Source: Vendor Player",
         "HDR:  Not Active"},
        {[](auto& b) { b.spd("ABCDEFGH", "0123456789abcdef"), b.source[30] = 'Z', b.drm(1); },
         "Source: ABCDEFGH 0123456789abcdef", "HDR:  HDR Luminance Range"},
        {[](auto& b) { b.spd("Vendor", ""), b.drm(2); }, "Source: Vendor ", "HDR:  SMPTE ST 2084"},
        {[](auto& b) { b.spd("Caf\xE9", "\xFF\x80"), b.drm(3); }, "Source: Caf\xE9 \xFF\x80",
         "HDR: "},
        {[](auto& b) { b.spd("V", "P"), b.source[3] = 2, b.drm(2), b.hdr[3] = 2; },
         "Source: no info received", "HDR: Not Active"},
        {[](auto& b) { b.spd("V", "P"), b.source[4] = 0, b.drm(2), b.hdr[2] = 0x83; },
         "Source: no info received", "HDR: Not Active"},
    };
    for (const auto& [setup, source, hdr] : cases) {
        VideoBlocks b;
        setup(b);
        EXPECT_EQ(b.lines().source, source);
        EXPECT_EQ(b.lines().hdr, hdr);
    }
}

TEST(VideoLinesTest, RgbLimitedBt709Hdcp14) {
    VideoBlocks b;
    b.avi[7] = 16, b.avi[6] = 0x04, b.avi[5] = 0x80, b.input[4] = 0x02, b.input[5] = 4;
    EXPECT_EQ(b.lines(), (VideoLines{"Input : 1920x1080p60", "Encryption: HDCP 1.4",
                                     "Color: RGB 16-235 ITU-R BT.709", "Source: no info received",
                                     "HDR: Not Active", "Input Deep Color: 8-bit"}));
}

TEST(AudioLineTest, ComposesTheLine) {
    // offset 4 (rate, HBR), 5 (not PCM), 9 (word length), 12 (CC), 15 (CA)
    const std::pair<std::array<std::uint8_t, 5>, std::string> cases[] = {
        {{0, 0, 0, 0, 0}, "Audio: L-PCM 32kHz --ch 16bit"},
        {{2, 0x02, 0xB, 7, 19}, "Audio: bitstream"},
        {{0x20, 0, 0, 1, 0}, "Audio: HBR bitstream"},
        {{0x22, 0x02, 0, 1, 0}, "Audio: HBR bitstream"},
        {{2, 0, 0x2, 1, 0}, "Audio: L-PCM 48kHz 2.0ch 16bit"},
        {{6, 0, 0xB, 7, 0}, "Audio: L-PCM 192kHz 7.1ch 24bit"},
        {{7, 0, 0x4, 5, 11}, "Audio: L-PCM 768KHz 5.1ch 18bit"},
        {{1, 0, 0xA, 5, 14}, "Audio: L-PCM 44.1kHz 6.0ch 20bit"},
        {{3, 0, 0xF4, 1, 19}, "Audio: L-PCM 88.2kHz 2.0ch 18bit"},
        {{4, 0, 0, 2, 4}, "Audio: L-PCM 96kHz 3.0ch 16bit"},
        {{5, 0, 0, 0xFE, 48}, "Audio: L-PCM 176kHz 7.0ch 16bit"},
        {{0xD8, 0, 0, 3, 20}, "Audio: L-PCM 32kHz 4.0ch 16bit"},
        {{0, 0, 0, 2, 3}, "Audio: L-PCM 32kHz --ch 16bit"},    // CA of 3.1 under CC 2
        {{0, 0, 0, 7, 0x32}, "Audio: L-PCM 32kHz --ch 16bit"}, // CA past the table
        {{0, 0, 0, 0, 19}, "Audio: L-PCM 32kHz --ch 16bit"},
    };
    for (const auto& [fields, expected] : cases) {
        Reply block{};
        block[0] = 0xE0, block[4] = fields[0], block[5] = fields[1], block[9] = fields[2];
        block[12] = fields[3], block[15] = fields[4];
        EXPECT_EQ(status::composeAudioLine(block), expected);
    }
}

TEST(VersionTextTest, PrintsSixNumbersWithoutLeadingZeros) {
    const std::pair<std::array<std::uint8_t, 6>, std::string> cases[] = {
        {{1, 0, 2, 3, 0, 5}, "ver: 1.023.05"},
        {{2, 10, 0, 0, 11, 2}, "ver: 2.1000.112"},
        {{1, 2, 3, 4, 5, 6}, "ver: 1.234.56"},
        {{255, 255, 255, 255, 255, 255}, "ver: 255.255255255.255255"},
    };
    for (const auto& [numbers, expected] : cases) {
        Reply block{};
        block[0] = 0xE0, block[1] = 9;
        std::copy(numbers.begin(), numbers.end(), block.begin() + 2);
        EXPECT_EQ(status::versionText(block), expected);
    }
}

} // namespace
} // namespace telmar::test
