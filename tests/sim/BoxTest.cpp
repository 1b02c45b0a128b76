// SPDX-License-Identifier: MIT
#include "sim/Box.h"

#include "updater/Frames.h"

#include <gtest/gtest.h>
#include <random>

namespace telmar::sim {
namespace {

using updater::enterIspFrame;
using updater::kExitIspFrame;
using updater::kResetBoxFrame;
using updater::setBlockIndexFrame;

Bytes packetFrame(std::span<const std::uint8_t> data) {
    Bytes f(updater::kWriteFlashPacketHeader.begin(), updater::kWriteFlashPacketHeader.end());
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

Bytes randomImage(std::size_t blocks, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes image(blocks * kFlashBlockSize);
    for (auto& b : image) {
        b = static_cast<std::uint8_t>(rng());
    }
    return image;
}

std::optional<Bytes> send(Box& box, const Bytes& frame, BoxTimeMs now = 0) {
    return box.handleFrame(frame, now).reply;
}

template <std::size_t N>
std::optional<Bytes> send(Box& box, const std::array<std::uint8_t, N>& frame, BoxTimeMs now = 0) {
    return box.handleFrame(frame, now).reply;
}

TEST(FrameKinds, EachFrameIsRecognisedAndNearMissesAreNot) {
    const Bytes packet = packetFrame(Bytes(16, 0xAA));
    const std::vector<std::pair<Bytes, FrameKind>> cases = {
        {{0x10, 0x04, 0xE0, 0x05, 0x03}, FrameKind::WriteRegister},
        {{0x11, 0x08, 0xE0, 0x09}, FrameKind::ReadBlock},
        {{0x11, 0x16, 0xE1}, FrameKind::ReadSettings},
        {{0x10, 0x05, 0xC8, 0x0F, 0x40}, FrameKind::EnterIsp},
        {{0x10, 0x05, 0x78, 0x0F, 0x40}, FrameKind::EnterIsp},
        {{0x10, 0x05, 0x50, 0x01, 0x07}, FrameKind::SetBlockIndex},
        {packet, FrameKind::WriteFlashPacket},
        {{0x10, 0x05, 0x50, 0x02, 0x00}, FrameKind::ExitIsp},
        {{0x11, 0x01, 0xDC}, FrameKind::ResetBox},
        // Near misses: one byte off, or one byte too many or too few.
        {{0x10, 0x04, 0xE0, 0x05}, FrameKind::Unknown},
        {{0x10, 0x04, 0xE0, 0x05, 0x03, 0x00}, FrameKind::Unknown},
        {{0x10, 0x04, 0xE1, 0x05, 0x03}, FrameKind::Unknown},
        {{0x11, 0x08, 0xE2, 0x09}, FrameKind::Unknown},
        {{0x12, 0x16, 0xE1}, FrameKind::Unknown},
        {{0x10, 0x05, 0x99, 0x0F, 0x40}, FrameKind::Unknown},
        {{0x10, 0x05, 0xC8, 0x0F, 0x41}, FrameKind::Unknown},
        {{0x10, 0x05, 0x50, 0x02, 0x01}, FrameKind::Unknown},
        {{0x10, 0x05, 0x50, 0x03, 0x00}, FrameKind::Unknown},
        {Bytes(packet.begin(), packet.end() - 1), FrameKind::Unknown},
        {{}, FrameKind::Unknown},
    };
    for (const auto& [frame, kind] : cases) {
        EXPECT_EQ(classifyFrame(frame), kind) << "frame of " << frame.size() << " bytes";
    }
}

TEST(Box, UnknownFramesGetNoReplyAndAreCounted) {
    Box box;
    for (const Bytes& f :
         std::vector<Bytes>{{0x00}, {0x10, 0x04, 0xE0}, {0xFF, 0xFF, 0xFF, 0xFF}}) {
        EXPECT_FALSE(send(box, f).has_value());
    }
    // A known request for a block the box does not have, or for no bytes at all.
    EXPECT_FALSE(send(box, Bytes{0x11, 0x08, 0xE0, 0x0A}).has_value());
    EXPECT_FALSE(send(box, Bytes{0x11, 0x00, 0xE0, 0x09}).has_value());
    EXPECT_FALSE(send(box, Bytes{0x11, 0x00, 0xE1}).has_value());
    EXPECT_EQ(box.unknownFrames(), 3u);
    EXPECT_EQ(box.frames(), 6u);
}

TEST(Box, RegisterWritesLandInTheirSettingsBytes) {
    struct Case {
        std::uint8_t reg, value;
        std::size_t settingsByte;
    };
    const Case cases[] = {{0, 0, 0}, {1, 0, 1}, {2, 1, 2},   {4, 1, 4},
                          {5, 2, 5}, {6, 3, 6}, {17, 1, 10}, {18, 1, 11}};
    Box box;
    for (const auto& c : cases) {
        EXPECT_EQ(send(box, Bytes{0x10, 0x04, 0xE0, c.reg, c.value}), (Bytes{0xE0, 0x00}));
        const auto reply = send(box, Bytes{0x11, 0x16, 0xE1});
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->size(), 22u);
        EXPECT_EQ((*reply)[0], 0xE1);
        EXPECT_EQ((*reply)[2 + c.settingsByte], c.value) << "register " << int(c.reg);
    }
    // Registers 17 and 18 have no settings byte of their own number.
    const auto reply = send(box, Bytes{0x11, 0x40, 0xE1});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 64u);
    EXPECT_EQ(std::count(reply->begin() + 22, reply->end(), 0), 64 - 22);
}

TEST(Box, ModeBytesFollowTheSlideSwitchesWhileGuiControlIsOff) {
    Box box;
    box.setSwitches({2, 3});
    send(box, Bytes{0x10, 0x04, 0xE0, 0x05, 0x01}); // accepted, but the switches rule
    send(box, Bytes{0x10, 0x04, 0xE0, 0x06, 0x02});
    auto settings = box.settingsBlock();
    EXPECT_EQ(settings[4], 0);
    EXPECT_EQ(settings[5], 2);
    EXPECT_EQ(settings[6], 3);

    send(box, Bytes{0x10, 0x04, 0xE0, 0x04, 0x01}); // GUI control on: the written modes show
    settings = box.settingsBlock();
    EXPECT_EQ(settings[5], 1);
    EXPECT_EQ(settings[6], 2);
    box.setSwitches({3, 1}); // moving a switch changes nothing while the GUI rules
    EXPECT_EQ(box.settingsBlock()[5], 1);

    send(box, Bytes{0x10, 0x04, 0xE0, 0x04, 0x00});
    settings = box.settingsBlock();
    EXPECT_EQ(settings[5], 3);
    EXPECT_EQ(settings[6], 1);
}

TEST(Box, HotPlugPulseTakesTheInputAwayForTwoSeconds) {
    Box box;
    ASSERT_TRUE(box.setScenario("1080p60", 0));
    const auto before = box.settingsBlock();
    EXPECT_EQ(send(box, Bytes{0x10, 0x04, 0xE0, 0x0A, 0x01}, 1000), (Bytes{0xE0, 0x00}));
    EXPECT_EQ(box.hpdPulses(), 1u);
    EXPECT_EQ(box.settingsBlock(), before);
    const auto presence = [&](BoxTimeMs t) {
        return send(box, Bytes{0x11, 0x07, 0xE0, 0x0B}, t).value().at(6);
    };
    EXPECT_EQ(presence(1000), 0x00);
    EXPECT_EQ(presence(2999), 0x00);
    EXPECT_EQ(presence(3000), 0xC0);
}

TEST(Box, BlocksAnswerTheCountAskedForWithTheBlockAfterTwoBytes) {
    Box box;
    EXPECT_EQ(send(box, Bytes{0x11, 0x08, 0xE0, 0x09}), (Bytes{0xE0, 0x09, 2, 1, 0, 4, 1, 8}));
    for (std::uint8_t block = 11; block <= 15; ++block) {
        for (std::uint8_t count : std::initializer_list<std::uint8_t>{1, 7, 17, 33, 64, 200}) {
            const auto reply = send(box, Bytes{0x11, count, 0xE0, block});
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->size(), std::min<std::size_t>(count, 64));
            EXPECT_EQ(reply->front(), 0xE0);
        }
    }
    const auto spd = send(box, Bytes{0x11, 33, 0xE0, 13}).value();
    EXPECT_EQ(spd[2], 0x83);
    EXPECT_EQ(spd[3], 0x01);
    EXPECT_EQ(std::string(spd.begin() + 6, spd.begin() + 13), "Kestrel");
}

TEST(Box, BlocksSetByHandAreReadUntilTheNextScenario) {
    Box box;
    ASSERT_TRUE(box.setScenario("1080p60", 0));
    const Bytes readSpd{0x11, 64, 0xE0, 13};
    const Bytes fromScenario = send(box, readSpd).value();
    EXPECT_FALSE(box.setBlock(10, Bytes{1}));
    EXPECT_FALSE(box.setBlock(13, Bytes(64, 1)));
    ASSERT_TRUE(box.setBlock(13, Bytes{0x82, 0x02, 0x19}));
    Bytes expected(64, 0);
    std::copy_n(std::begin({0xE0, 0x82, 0x02, 0x19}), 4, expected.begin());
    EXPECT_EQ(send(box, readSpd), expected);
    EXPECT_EQ(send(box, Bytes{0x11, 3, 0xE0, 13}), (Bytes{0xE0, 0x82, 0x02}));
    send(box, Bytes{0x10, 0x04, 0xE0, 0x0A, 0x01}, 1000); // a hot-plug pulse takes it away too
    EXPECT_NE(send(box, readSpd, 1500), expected);
    EXPECT_EQ(send(box, readSpd, 3000), expected);
    EXPECT_FALSE(box.setScenario("no-such-scenario", 3000));
    EXPECT_EQ(send(box, readSpd, 3000), expected);
    ASSERT_TRUE(box.setScenario("1080p60", 3000));
    EXPECT_EQ(send(box, readSpd, 3000), fromScenario);
}

TEST(Scenarios, EveryPresetButNoInputReportsAnInputAndValidNames) {
    Box box;
    for (const auto& s : scenarios()) {
        ASSERT_TRUE(box.setScenario(s.name, 0));
        const auto input = send(box, Bytes{0x11, 0x07, 0xE0, 0x0B}).value();
        EXPECT_EQ(input[6] == 0xC0, s.name != "no-input") << s.name;
        EXPECT_TRUE(s.inputStatus.size() <= 5 && s.avi.size() <= 15 &&
                    s.sourceProduct.size() <= 31 && s.hdr.size() <= 31 && s.audio.size() <= 14)
            << s.name << " has a block longer than the control panel reads";
    }
    EXPECT_FALSE(box.setScenario("no-such-input", 0));
    EXPECT_EQ(box.scenarioSetting(), scenarios().back().name); // kept by the failed switch
}

TEST(Scenarios, InfoFramesCarryAValidChecksum) {
    for (const auto& s : scenarios()) {
        for (const Bytes* frame : {&s.sourceProduct, &s.hdr}) {
            if (frame->empty()) {
                continue;
            }
            ASSERT_EQ(frame->size(), 4u + (*frame)[2]) << s.name;
            unsigned sum = 0;
            for (auto b : *frame) {
                sum += b;
            }
            EXPECT_EQ(sum % 256, 0u) << s.name;
        }
    }
}

TEST(Scenarios, DemoCyclesThroughAllPresetsFromWhenItStarted) {
    Box box;
    ASSERT_TRUE(box.setScenario("demo", 10'000));
    const auto all = scenarios();
    for (std::size_t i = 0; i < all.size() * 2; ++i) {
        const BoxTimeMs t = 10'000 + i * kDemoPeriodMs;
        EXPECT_EQ(box.scenarioAt(t).name, all[i % all.size()].name);
        EXPECT_EQ(box.scenarioAt(t + kDemoPeriodMs - 1).name, all[i % all.size()].name);
    }
}

struct ProgrammingRun {
    FlashChip chip;
    std::uint8_t enterByte;
    std::size_t blocks;
};

class FlashProgramming : public ::testing::TestWithParam<ProgrammingRun> {};

TEST_P(FlashProgramming, AFullRunLeavesTheFlashEqualToTheImage) {
    const auto run = GetParam();
    const FlashChip other = run.chip == FlashChip::Fpga1 ? FlashChip::Fpga2 : FlashChip::Fpga1;
    Box box;
    const Bytes otherBefore = box.flash(other);
    const Bytes image = randomImage(run.blocks, 7);

    EXPECT_EQ(send(box, enterIspFrame(run.enterByte)), (Bytes{run.enterByte, 0x01}));
    EXPECT_TRUE(box.inIsp());
    EXPECT_EQ(box.selectedFlash(), run.chip);
    for (std::size_t b = 0; b < run.blocks; ++b) {
        ASSERT_EQ(send(box, setBlockIndexFrame(static_cast<std::uint8_t>(b))), (Bytes{0x50, 0x01}));
        for (std::size_t p = 0; p < updater::kPacketsPerBlock; ++p) {
            const auto at = image.begin() + static_cast<std::ptrdiff_t>(b * 512 + p * 16);
            ASSERT_EQ(send(box, packetFrame({&*at, 16})), (Bytes{0x50, 0x01}));
        }
    }
    EXPECT_EQ(send(box, kExitIspFrame), (Bytes{0x50, 0x01}));
    EXPECT_EQ(send(box, kResetBoxFrame), (Bytes{0xDC}));

    EXPECT_EQ(box.flash(run.chip), image);
    EXPECT_EQ(box.flash(other), otherBefore);
    EXPECT_EQ(box.writeLog().size(), run.blocks * 32);
    EXPECT_EQ(box.writeLog().back().block, run.blocks - 1);
    EXPECT_EQ(box.writeLog().back().packet, 31);
    EXPECT_FALSE(box.misuse().any());
    EXPECT_FALSE(box.inIsp());
    EXPECT_EQ(box.resets(), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothChips, FlashProgramming,
                         ::testing::Values(ProgrammingRun{FlashChip::Fpga1, 0xC8, 248},
                                           ProgrammingRun{FlashChip::Fpga2, 0x78, 50}));

TEST(Box, MisusedProgrammingFramesAreRefusedAndFlagged) {
    const Bytes packet = packetFrame(Bytes(16, 0x42));
    struct Case {
        const char* what;
        std::vector<Bytes> frames;
        Misuse expected;
    };
    const auto enter2 = Bytes{0x10, 0x05, 0x78, 0x0F, 0x40};
    const auto index0 = Bytes{0x10, 0x05, 0x50, 0x01, 0x00};
    std::vector<Bytes> thirtyThree = {enter2, index0};
    thirtyThree.insert(thirtyThree.end(), 33, packet);
    const std::vector<Case> cases = {
        {"packet outside programming mode", {packet}, {.packetOutsideIsp = 1}},
        {"packet before any block index", {enter2, packet}, {.packetBeforeBlockIndex = 1}},
        {"packet after leaving programming mode",
         {enter2, index0, Bytes(kExitIspFrame.begin(), kExitIspFrame.end()), packet},
         {.packetOutsideIsp = 1}},
        {"33rd packet after one block index", thirtyThree, {.packetPastBlockEnd = 1}},
        {"block index outside programming mode", {index0}, {.blockIndexOutsideIsp = 1}},
        {"block past the FPGA2 flash",
         {enter2, {0x10, 0x05, 0x50, 0x01, 50}, packet},
         {.packetBeforeBlockIndex = 1, .blockIndexOutOfRange = 1}},
    };
    for (const auto& c : cases) {
        Box box;
        const Bytes before = box.flash(FlashChip::Fpga2);
        std::optional<Bytes> last;
        for (const auto& f : c.frames) {
            last = send(box, f);
        }
        EXPECT_EQ(box.misuse(), c.expected) << c.what;
        EXPECT_EQ(last, (Bytes{0x50, 0x00})) << c.what;
        const std::size_t written =
            c.what == std::string("33rd packet after one block index") ? 32 : 0;
        EXPECT_EQ(box.writeLog().size(), written) << c.what;
        if (written == 0) {
            EXPECT_EQ(box.flash(FlashChip::Fpga2), before) << c.what;
        }
    }
}

} // namespace
} // namespace telmar::sim
