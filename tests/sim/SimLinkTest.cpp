// SPDX-License-Identifier: MIT
// The control panel's link and requests, and the updater's link, against a real
// telmar-sim process through the `sim` driver backend.

#include "link/PanelLink.h"
#include "link/UpdaterLink.h"
#include "protocol/ControlProtocol.h"
#include "sim/SimDriver.h"
#include "status/StatusUpdate.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/RecordingStatusSink.h"
#include "tests/support/ScaledClock.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"
#include "updater/Frames.h"

#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/socket.h>
#include <sys/un.h>

namespace telmar::test {
namespace {

using namespace std::chrono_literals;

// Link time runs four times faster, so that the link's 4000 ms waits end in a quarter of
// it. The daemon's replies still take their real delay.
constexpr std::uint32_t kLinkSpeedUp = 4;

class SimLink : public ::testing::Test {
  protected:
    explicit SimLink(std::vector<std::string> serveArgs = {"--delay-ms", "1"})
        : sim(std::move(serveArgs)), driver(sim.socket()) {}

    void SetUp() override { ASSERT_TRUE(sim.running()) << sim.error(); }

    void openPanel() {
        std::uint32_t index = 99;
        ASSERT_TRUE(panel.findDevice("2031", index));
        ASSERT_TRUE(panel.openDevice(index));
    }

    void control(const std::string& request) {
        const auto reply = sim.control(request);
        ASSERT_TRUE(reply.ok) << request << ": " << reply.error;
    }

    Watchdog watchdog{90s};
    SimProcess sim;
    sim::SimDriver driver;
    ScaledClock clock{kLinkSpeedUp, kLinkSpeedUp};
    RecordingMessages messages;
    link::PanelLink panel{driver, clock, messages};
    RecordingStatusSink statusBar;
    protocol::ControlProtocol protocol{panel, statusBar};
};

TEST_F(SimLink, EveryControlPanelRequestIsAnswered) {
    openPanel();
    control("scenario 4k60-hdr");
    control("switches dn up");

    const std::pair<protocol::Register, std::uint8_t> writes[] = {
        {protocol::Register::LogoLed, 0},       {protocol::Register::AudioFrame, 0},
        {protocol::Register::HdcpVersion, 1},   {protocol::Register::EdidMode, 1},
        {protocol::Register::AudioMode, 3},     {protocol::Register::Htpc, 1},
        {protocol::Register::HdmiAudioMute, 1}, {protocol::Register::Hpd, 1},
    };
    for (const auto& [reg, value] : writes) {
        EXPECT_TRUE(protocol.writeRegister(reg, value)) << int(reg);
    }
    link::Reply settings{};
    ASSERT_TRUE(protocol.readSettings(settings, 22));
    const std::vector<std::uint8_t> expected = {0, 0, 1, 0, 0, 2, 3, 0, 0, 0, 1, 1};
    EXPECT_EQ(std::vector<std::uint8_t>(settings.begin() + 2, settings.begin() + 14), expected)
        << "GUI control is off, so bytes 5 and 6 are the switches";

    link::Reply version{};
    ASSERT_TRUE(protocol.readBlock(9, version, 8));
    EXPECT_EQ(status::versionText(version), "ver: 2.104.18");

    EXPECT_EQ(sim.status()["hpd"], "1");
    // The hot-plug pulse keeps the input away for two seconds of box time.
    EXPECT_EQ(status::readStatusUpdate(protocol).video, status::StatusUpdate::Video::BlankAll);
    std::this_thread::sleep_for(2100ms);
    const auto update = status::readStatusUpdate(protocol);
    EXPECT_EQ(update.video, status::StatusUpdate::Video::Set);
    EXPECT_EQ(update.lines.hdr, "HDR:  SMPTE ST 2084");
    EXPECT_EQ(update.audio, "Audio: HBR bitstream");
    EXPECT_TRUE(statusBar.shown.empty());
    EXPECT_TRUE(messages.warnings().empty());
    panel.closeDevice();
    EXPECT_TRUE(messages.warnings().empty());
}

TEST_F(SimLink, UpdaterWritesTheWholeFpga2Image) {
    link::UpdaterLink updater(driver, clock, messages, messages);
    updater.connectDevice();
    ASSERT_NE(updater.deviceHandle(), usb::kNoHandle);

    std::vector<std::uint8_t> image(50 * 512);
    std::mt19937 rng(31);
    for (auto& b : image) {
        b = static_cast<std::uint8_t>(rng());
    }
    std::array<std::uint8_t, 2> reply{};
    const auto enter = updater::enterIspFrame(updater::kFpga2EnterIspByte2);
    ASSERT_TRUE(updater.exchange(enter, reply));
    EXPECT_EQ(sim.status()["isp"], "1");
    for (std::uint8_t b = 0; b < 50; ++b) {
        ASSERT_TRUE(updater.exchange(updater::setBlockIndexFrame(b), reply));
        ASSERT_EQ(reply[1], updater::kAccepted);
        for (std::size_t p = 0; p < 32; ++p) {
            std::array<std::uint8_t, updater::kWriteFlashPacketLength> frame{};
            std::copy(updater::kWriteFlashPacketHeader.begin(),
                      updater::kWriteFlashPacketHeader.end(), frame.begin());
            std::copy_n(image.begin() + b * 512 + static_cast<std::ptrdiff_t>(p * 16), 16,
                        frame.begin() + 5);
            ASSERT_TRUE(updater.exchange(frame, reply));
            ASSERT_EQ(reply[1], updater::kAccepted);
        }
    }
    ASSERT_TRUE(updater.exchange(updater::kExitIspFrame, reply));
    EXPECT_EQ(reply[1], updater::kAccepted);
    std::array<std::uint8_t, 1> resetReply{};
    ASSERT_TRUE(updater.exchange(updater::kResetBoxFrame, resetReply));
    updater.closeDevice();

    const auto status = sim.status();
    EXPECT_EQ(status.at("isp"), "0");
    EXPECT_EQ(status.at("resets"), "1");
    EXPECT_EQ(status.at("misuse"), "0");
    EXPECT_EQ(status.at("writes"), "1600");
    const auto flash = runCli({"--socket", sim.socket(), "flash", "fpga2"});
    ASSERT_EQ(flash.exitCode, 0) << flash.err;
    ASSERT_EQ(flash.out.size(), image.size());
    const auto mismatch = std::mismatch(image.begin(), image.end(),
                                        reinterpret_cast<const std::uint8_t*>(flash.out.data()));
    EXPECT_EQ(mismatch.first, image.end())
        << "first difference at " << mismatch.first - image.begin();
    EXPECT_TRUE(messages.warnings().empty());
    EXPECT_TRUE(messages.lines().empty());
}

enum class Request { Write, Settings, Block };

TEST_F(SimLink, EachReplyFaultFailsTheRequestWithItsText) {
    struct Case {
        const char* fault;
        Request request;
        ShownStatus shown;
        std::vector<std::string> warnings;
    };
    const ShownStatus notConnected{"TELMAR not connected", 4000};
    const ShownStatus readError{"Error Reading values", 4000};
    const ShownStatus dots{"...", 2000};
    const std::vector<Case> cases = {
        {"drop", Request::Write, notConnected, {}},
        {"truncate 1", Request::Write, notConnected, {}},
        {"byte0 0xE1", Request::Write, notConnected, {}},
        {"byte0 0xE0", Request::Settings, readError, {}},
        {"truncate 21", Request::Settings, readError, {}},
        {"truncate 7", Request::Block, dots, {}},
        {"silence-after 0", Request::Block, dots, {}},
        {"queue", Request::Write, notConnected, {"Error Checking RX Queue"}},
    };
    openPanel();
    const auto run = [&](Request r) {
        link::Reply reply{};
        switch (r) {
        case Request::Write:
            return protocol.writeRegister(protocol::Register::LogoLed, 1);
        case Request::Settings:
            return protocol.readSettings(reply, 22);
        case Request::Block:
            return protocol.readBlock(9, reply, 8);
        }
        return false;
    };
    for (const auto& c : cases) {
        statusBar.shown.clear();
        messages.clear();
        control(std::string("fault ") + c.fault);
        EXPECT_FALSE(run(c.request)) << c.fault;
        EXPECT_EQ(statusBar.shown, std::vector<ShownStatus>{c.shown}) << c.fault;
        EXPECT_EQ(messages.warningTexts(), c.warnings) << c.fault;
        control("fault clear");
        EXPECT_TRUE(run(c.request)) << "the box answers again after " << c.fault;
    }
}

TEST_F(SimLink, DriverFaultsFailTheLinkStepTheyHit) {
    std::uint32_t index = 0;
    control("fault count");
    EXPECT_FALSE(panel.findDevice("2031", index));
    control("fault string");
    EXPECT_FALSE(panel.findDevice("2031", index));
    EXPECT_EQ(messages.warningTexts(), (std::vector<std::string>{"Connect USB cable to TELMAR",
                                                                 "Connect USB cable to TELMAR"}));

    messages.clear();
    ASSERT_TRUE(panel.findDevice("2031", index));
    control("fault open");
    EXPECT_FALSE(panel.openDevice(index));
    EXPECT_EQ(messages.warningTexts(), std::vector<std::string>{"Usb device open error!"});

    messages.clear();
    openPanel();
    // The control panel does not look at the flush's status.
    control("fault flush");
    EXPECT_TRUE(protocol.writeRegister(protocol::Register::LogoLed, 1));
    control("fault close");
    panel.closeDevice();
    EXPECT_EQ(panel.deviceHandle(), usb::kNoHandle);
    EXPECT_EQ(messages.warningTexts(), std::vector<std::string>{"Unable to close device handle!"});
}

TEST_F(SimLink, UpdaterSeesRefusalsAndAFailedFlushEndsItsConnect) {
    link::UpdaterLink updater(driver, clock, messages, messages);
    control("fault flush");
    updater.connectDevice();
    EXPECT_EQ(updater.deviceHandle(), usb::kNoHandle);
    EXPECT_TRUE(messages.warningTexts().empty());

    control("fault string");
    updater.connectDevice();
    EXPECT_EQ(messages.warningTexts(), (std::vector<std::string>{"Error retrieving serial string!",
                                                                 "Usb device not connected!"}));

    messages.clear();
    updater.connectDevice();
    ASSERT_NE(updater.deviceHandle(), usb::kNoHandle);
    control("fault reject block-index");
    control("fault reject-packet 2");
    std::array<std::uint8_t, 2> reply{};
    std::array<std::uint8_t, updater::kWriteFlashPacketLength> packet{0x10, 0x15, 0x50, 0x41, 0x10};
    ASSERT_TRUE(updater.exchange(updater::enterIspFrame(updater::kFpga1EnterIspByte2), reply));
    std::vector<std::uint8_t> accepted;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(updater.exchange(updater::setBlockIndexFrame(0), reply));
        accepted.push_back(reply[1]);
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(updater.exchange(packet, reply));
        accepted.push_back(reply[1]);
    }
    EXPECT_EQ(accepted, (std::vector<std::uint8_t>{0, 1, 1, 0, 1}));
    // A reply cut short still counts as an exchange, with the short-reply line drawn.
    control("fault truncate 1");
    EXPECT_TRUE(updater.exchange(updater::kExitIspFrame, reply));
    ASSERT_EQ(messages.lines().size(), 1u);
    EXPECT_EQ(messages.lines()[0].text, link::UpdaterLink::kShortReplyLine);
    updater.closeDevice();
}

TEST_F(SimLink, UnplugAfterAFrameLetsItsReplyOutFirst) {
    openPanel();
    control("fault unplug-after 2");
    link::Reply reply{};
    EXPECT_TRUE(protocol.readBlock(9, reply, 8));
    EXPECT_TRUE(protocol.readSettings(reply, 22));
    EXPECT_FALSE(protocol.writeRegister(protocol::Register::LogoLed, 1));
    EXPECT_EQ(sim.status().at("plugged"), "0");
    std::uint32_t count = 9;
    ASSERT_EQ(driver.getNumDevices(count), usb::kSuccess);
    EXPECT_EQ(count, 0u);
}

class SlowSimLink : public SimLink {
  protected:
    SlowSimLink() : SimLink({"--delay-ms", "300"}) {}
};

TEST_F(SlowSimLink, UnplugInTheMiddleOfAPollFailsEveryLaterRequestPromptly) {
    openPanel();
    auto poll = std::async(std::launch::async, [&] { return status::readStatusUpdate(protocol); });
    std::this_thread::sleep_for(100ms); // block 11's reply is still on its way
    control("unplug");
    ASSERT_EQ(poll.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(poll.get().video, status::StatusUpdate::Video::BlankAll);
    EXPECT_FALSE(panel.linkBusy());

    const auto status = sim.status();
    EXPECT_EQ(status.at("plugged"), "0");
    EXPECT_EQ(status.at("handles"), "0");

    for (int i = 0; i < 3; ++i) {
        statusBar.shown.clear();
        const auto start = clock.tickMs();
        link::Reply reply{};
        EXPECT_FALSE(protocol.writeRegister(protocol::Register::LogoLed, 1));
        EXPECT_FALSE(protocol.readSettings(reply, 22));
        EXPECT_FALSE(protocol.readBlock(11, reply, 7));
        EXPECT_LT(link::elapsedMs(start, clock.tickMs()), 3 * link::PanelLink::kTimeoutMs);
        EXPECT_EQ(statusBar.shown.size(), 3u);
    }
    std::uint32_t index = 0;
    EXPECT_FALSE(panel.findDevice("2031", index));

    // Plugged back in, the box is found again; the old handle stays dead.
    control("plug");
    ASSERT_TRUE(panel.findDevice("2031", index));
    ASSERT_TRUE(panel.openDevice(index));
    EXPECT_TRUE(protocol.writeRegister(protocol::Register::LogoLed, 1));
}

TEST_F(SimLink, GarbageOnTheSocketLeavesTheDaemonServingOthers) {
    openPanel();
    std::vector<int> rogues;
    const auto rogue = [&](std::string_view bytes) {
        const int fd = sim::net::connectUnix(sim.socket());
        ASSERT_GE(fd, 0);
        sim::net::sendAll(fd, bytes, 1000);
        rogues.push_back(fd);
    };
    std::string binary(3000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>((i * 131) & 0xFF);
    }
    rogue(binary);
    rogue("fault\nbox 9 status\nbox x\nstring 0 99\nopen 7\nopen\nframe 1234\n\n\n");
    rogue("open 0\nframe ZZ\nframe 1\nframe " + std::string(20000, 'A') + "\nstatus\n");
    rogue(std::string(sim::kMaxLine + 10, 'x')); // a line that never ends
    rogue("stat");                               // and one cut off mid-word
    sim::net::closeFd(rogues.back());
    rogues.pop_back();

    EXPECT_TRUE(protocol.writeRegister(protocol::Register::LogoLed, 0));
    link::Reply reply{};
    EXPECT_TRUE(protocol.readSettings(reply, 22));
    EXPECT_EQ(reply[2], 0);
    EXPECT_EQ(sim.status().at("serial"), "2031");
    for (int fd : rogues) {
        sim::net::closeFd(fd);
    }
    EXPECT_EQ(sim.status().at("handles"), "1");
    EXPECT_TRUE(messages.warnings().empty());
}

TEST(SimDevices, TheFirstMatchingSerialWinsAndUnpluggedBoxesLeaveTheList) {
    Watchdog watchdog{60s};
    SimProcess sim({"--serials", "1111,2031,2031"});
    ASSERT_TRUE(sim.running()) << sim.error();
    sim::SimDriver driver(sim.socket());
    std::uint32_t count = 0;
    ASSERT_EQ(driver.getNumDevices(count), usb::kSuccess);
    EXPECT_EQ(count, 3u);
    char serial[usb::kDeviceStringSize];
    ASSERT_EQ(driver.getDeviceString(0, serial, usb::kStringSerialNumber), usb::kSuccess);
    EXPECT_STREQ(serial, "1111");
    EXPECT_NE(driver.getDeviceString(3, serial, usb::kStringSerialNumber), usb::kSuccess);

    ScaledClock clock{kLinkSpeedUp, kLinkSpeedUp};
    RecordingMessages messages;
    link::PanelLink panel(driver, clock, messages);
    std::uint32_t index = 0;
    ASSERT_TRUE(panel.findDevice("2031", index));
    EXPECT_EQ(index, 1u);
    ASSERT_TRUE(sim.control("box 1 unplug").ok);
    ASSERT_EQ(driver.getNumDevices(count), usb::kSuccess);
    EXPECT_EQ(count, 2u);
    ASSERT_TRUE(panel.findDevice("2031", index));
    EXPECT_EQ(index, 1u); // the third box moved up
    ASSERT_TRUE(panel.openDevice(index));
    EXPECT_THAT(sim.control("box 2 status").lines.at(0), ::testing::HasSubstr("handles=1"));
}

TEST(SimDevices, NoDaemonMeansNoDevices) {
    const TempFolder folder;
    ASSERT_TRUE(folder.ok());
    sim::SimDriver driver(folder.file("nobody.sock"));
    std::uint32_t count = 7;
    EXPECT_EQ(driver.getNumDevices(count), usb::kSuccess);
    EXPECT_EQ(count, 0u);
    usb::Handle handle = usb::kNoHandle;
    EXPECT_NE(driver.open(0, handle), usb::kSuccess);
    std::uint32_t n = 0;
    EXPECT_EQ(driver.checkRxQueue(0x1234, n, n), usb::kInvalidHandle);
}

} // namespace
} // namespace telmar::test
