// SPDX-License-Identifier: MIT
// Each input scenario, read by the control panel's status code, shows the lines it
// was made for. The box answers through the scripted driver, in virtual time.

#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "sim/Box.h"
#include "status/StatusUpdate.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/RecordingStatusSink.h"
#include "tests/support/ScriptedDriver.h"

#include <gtest/gtest.h>

namespace telmar::sim {
namespace {

class ScenarioStatus : public ::testing::Test {
  protected:
    void SetUp() override {
        driver.addDevice("2031");
        driver.setResponder(
            [this](std::span<const std::uint8_t> frame) -> std::optional<test::ScriptedReply> {
                auto reply = box.handleFrame(frame, clock.tickMs()).reply;
                if (!reply) {
                    return std::nullopt;
                }
                return test::ScriptedReply{*reply, 1};
            });
        std::uint32_t index = 0;
        ASSERT_TRUE(link.findDevice("2031", index));
        ASSERT_TRUE(link.openDevice(index));
    }

    status::StatusUpdate show(std::string_view scenario) {
        EXPECT_TRUE(box.setScenario(scenario, clock.tickMs()));
        return status::readStatusUpdate(protocol);
    }

    link::VirtualClock clock;
    test::ScriptedDriver driver{clock};
    test::RecordingMessages messages;
    link::PanelLink link{driver, clock, messages};
    test::RecordingStatusSink statusBar;
    protocol::ControlProtocol protocol{link, statusBar};
    Box box;
};

TEST_F(ScenarioStatus, EachScenarioShowsItsLines) {
    using V = status::VideoLines;
    struct Case {
        std::string_view scenario;
        V lines;
        std::string audio;
    };
    const Case cases[] = {
        {"1080p60",
         V{"Input : 1920x1080p60", "Encryption: HDCP 1.4", "Color: RGB 16-235 ITU-R BT.709",
           "Source: Kestrel UHD Player 7", "HDR: Not Active", "Input Deep Color: 8-bit"},
         "Audio: L-PCM 48kHz 2.0ch 16bit"},
        {"4k60-hdr",
         V{"Input : 3840x2160p60", "Encryption: HDCP 2.2",
           "Color: YCbCr 4:2:0 Extended ITU-R BT.2020", "Source: Kestrel UHD Player 7",
           "HDR:  SMPTE ST 2084", "Input Deep Color: 10-bit"},
         "Audio: HBR bitstream"},
        {"4k30-hdmi14",
         V{"Input : 3840x2160p30", "Encryption: HDCP 1.4", "Color: RGB 0-255 ITU-R BT.709",
           "Source: no info received", "HDR: Not Active", "Input Deep Color: 8-bit"},
         "Audio: L-PCM 44.1kHz 2.0ch 16bit"},
        {"3d-sbs",
         V{"Input : 1280x720p60 Side-by-side 3D", "Encryption: HDCP 1.4",
           "Color: YCbCr 4:4:4 ITU-R BT.709", "Source: Sable 3D Disc Deck", "HDR: Not Active",
           "Input Deep Color: 8-bit"},
         "Audio: bitstream"},
        {"pcm-7.1",
         V{"Input : 1920x1080p60", "Encryption: none", "Color: YCbCr 4:2:2 ITU-R BT.709",
           "Source: Kestrel Media Server", "HDR:  Not Active", "Input Deep Color: 12-bit"},
         "Audio: L-PCM 192kHz 7.1ch 24bit"},
        {"spd-markup",
         V{"Input : 1920x1080p50", "Encryption: HDCP 1.4", "Color: RGB 0-255 ITU-R BT.709",
           "Source: <b>\xDC"
           "ber <i>Caf\xE9</i>&amp;",
           "HDR: Not Active", "Input Deep Color: 8-bit"},
         "Audio: L-PCM 48kHz 2.0ch 16bit"},
    };
    for (const auto& c : cases) {
        const auto update = show(c.scenario);
        EXPECT_EQ(update.video, status::StatusUpdate::Video::Set) << c.scenario;
        EXPECT_EQ(update.lines, c.lines) << c.scenario;
        EXPECT_EQ(update.audio, c.audio) << c.scenario;
    }
    EXPECT_TRUE(statusBar.shown.empty());
    EXPECT_TRUE(messages.warnings().empty());
}

TEST_F(ScenarioStatus, NoInputBlanksEverythingAndSkipsTheAudioBlock) {
    const auto update = show("no-input");
    EXPECT_EQ(update.video, status::StatusUpdate::Video::BlankAll);
    const auto frames = driver.writtenFrames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames.back(), (std::vector<std::uint8_t>{0x11, 33, 0xE0, 14}));
}

TEST_F(ScenarioStatus, HotPlugPulseShowsNoInputUntilTheBoxIsBack) {
    ASSERT_TRUE(protocol.writeRegister(protocol::Register::Hpd, 1));
    EXPECT_EQ(show("1080p60").video, status::StatusUpdate::Video::BlankAll);
    clock.advance(static_cast<std::uint32_t>(Box::kInputDropMs));
    EXPECT_EQ(status::readStatusUpdate(protocol).video, status::StatusUpdate::Video::Set);
}

TEST_F(ScenarioStatus, VersionBlockReadsAsTheFirmwareVersion) {
    link::Reply reply{};
    ASSERT_TRUE(protocol.readBlock(9, reply, 8));
    EXPECT_EQ(status::versionText(reply), "ver: 2.104.18");
}

} // namespace
} // namespace telmar::sim
