// SPDX-License-Identifier: MIT
// The InfoFrames each scenario puts on the wire, read back at the reply offsets the
// control panel reads them from.

#include "sim/Box.h"
#include "status/AudioStatus.h"
#include "status/VideoStatus.h"

#include <gtest/gtest.h>

namespace telmar::sim {
namespace {

link::Reply readBlock(Box& box, std::uint8_t block) {
    const Bytes frame{0x11, 33, 0xE0, block};
    const auto reply = box.handleFrame(frame, 0).reply.value();
    link::Reply r{};
    std::copy_n(reply.begin(), std::min(reply.size(), r.size()), r.begin());
    return r;
}

TEST(ScenarioInfoFrames, SpdAndDrmChecksumsHoldAndPcmRatesAgree) {
    Box box;
    for (const auto& s : scenarios()) {
        ASSERT_TRUE(box.setScenario(s.name, 0));
        for (const auto& [block, type, length] :
             {std::tuple{13, 0x83, 25}, std::tuple{14, 0x87, 26}}) {
            const auto r = readBlock(box, static_cast<std::uint8_t>(block));
            if (r[2] == 0) {
                continue;
            }
            EXPECT_EQ(r[2], type) << s.name;
            EXPECT_EQ(r[4], length) << s.name;
            unsigned sum = 0;
            for (int off = 2; off <= 5 + length; ++off) {
                sum += r[static_cast<std::size_t>(off)];
            }
            EXPECT_EQ(sum % 256, 0u) << s.name << " block " << block;
        }
        const auto audio = readBlock(box, 15);
        // Channel status sampling-frequency code for each box rate code 0 to 6.
        constexpr std::uint8_t kStatusRate[] = {0x3, 0x0, 0x2, 0x8, 0xA, 0xC, 0xE};
        const bool pcm = (audio[5] & 0x02) == 0 && (audio[4] & 0x20) == 0;
        if (pcm && s.name != "no-input") {
            EXPECT_EQ(audio[8] & 0x0F, kStatusRate[audio[4] & 0x07]) << s.name;
        }
    }
}

TEST(ScenarioInfoFrames, EachNewScenarioCarriesWhatItsNameSays) {
    struct Bits {
        std::string_view scenario;
        std::uint8_t block;
        std::size_t offset;
        std::uint8_t mask;
        std::uint8_t value;
    };
    const Bits cases[] = {
        {"4k50-hlg", 14, 6, 0x07, 0x03},     // EOTF hybrid log-gamma
        {"4k50-hlg", 12, 7, 0xFF, 96},       // 3840x2160p50
        {"4k60-hdr", 14, 24, 0xFF, 0xE8},    // 1000 cd/m2 mastering peak, low byte
        {"4k60-hdr", 14, 8, 0xFF, 0xC2},     // green first: x 0.265 = 13250
        {"pc-game", 12, 4, 0x60, 0x00},      // RGB
        {"pc-game", 12, 6, 0x8C, 0x88},      // IT content, full range
        {"pc-game", 12, 8, 0x70, 0x70},      // CN game, YQ full
        {"pc-game", 13, 30, 0xFF, 0x09},     // PC general
        {"film-2.39", 12, 4, 0x0C, 0x08},    // top and bottom bars valid
        {"film-2.39", 12, 5, 0x0F, 0x04},    // box wider than 16:9
        {"film-2.39", 12, 9, 0xFF, 138},     // top bar ends at line 138
        {"film-2.39", 12, 11, 0xFF, 0xAF},   // bottom bar from line 943 = 0x03AF
        {"film-2.39", 12, 12, 0xFF, 0x03},   //
        {"pcm-5.1-96k", 15, 4, 0x27, 0x04},  // 96 kHz, not HBR
        {"pcm-5.1-96k", 15, 8, 0x0F, 0x0A},  // channel status 96 kHz
        {"pcm-5.1-96k", 15, 9, 0xFF, 0x5B},  // 24 bits, originally 96 kHz
        {"pcm-5.1-96k", 15, 12, 0x07, 0x05}, // six channels
        {"pcm-5.1-96k", 15, 15, 0xFF, 0x0B}, // FL FR LFE1 FC LS RS
        {"hbr-7.1", 15, 4, 0x20, 0x20},      // HBR
        {"hbr-7.1", 15, 5, 0x02, 0x02},      // not linear PCM
        {"hbr-7.1", 15, 8, 0x0F, 0x09},      // 768 kHz frame rate
    };
    Box box;
    for (const auto& c : cases) {
        ASSERT_TRUE(box.setScenario(c.scenario, 0)) << c.scenario;
        EXPECT_EQ(readBlock(box, c.block)[c.offset] & c.mask, c.value)
            << c.scenario << " block " << int{c.block} << " offset " << c.offset;
    }
}

TEST(ScenarioInfoFrames, NewScenariosShowTheirFormatAndAudioLines) {
    const std::tuple<std::string_view, std::string_view, std::string_view> cases[] = {
        {"4k50-hlg", "Input : 3840x2160p50", "Audio: L-PCM 48kHz 2.0ch 16bit"},
        {"pc-game", "Input : 3840x2160p60", "Audio: L-PCM 48kHz 2.0ch 24bit"},
        {"film-2.39", "Input : 1920x1080p24", "Audio: bitstream"},
        {"pcm-5.1-96k", "Input : 1920x1080p60", "Audio: L-PCM 96kHz 5.1ch 24bit"},
        {"hbr-7.1", "Input : 1920x1080p24", "Audio: HBR bitstream"},
    };
    Box box;
    for (const auto& [scenario, format, audio] : cases) {
        ASSERT_TRUE(box.setScenario(scenario, 0)) << scenario;
        const auto lines = status::composeVideoLines(readBlock(box, 11), readBlock(box, 12),
                                                     readBlock(box, 13), readBlock(box, 14));
        EXPECT_EQ(lines.input, format);
        EXPECT_EQ(status::composeAudioLine(readBlock(box, 15)), audio) << scenario;
    }
}

} // namespace
} // namespace telmar::sim
