// SPDX-License-Identifier: MIT
#include "tests/windows/standin/StandinDriver.h"

#include "updater/Frames.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace telmar::sim::standin {
namespace {

namespace fs = std::filesystem;
using usb::Handle;
using usb::Status;

template <typename Frame> std::uint32_t sizeOf(const Frame& frame) {
    return static_cast<std::uint32_t>(frame.size());
}

std::array<std::uint8_t, updater::kWriteFlashPacketLength> packetFrame(std::uint8_t fill) {
    std::array<std::uint8_t, updater::kWriteFlashPacketLength> frame{};
    std::copy(updater::kWriteFlashPacketHeader.begin(), updater::kWriteFlashPacketHeader.end(),
              frame.begin());
    std::fill(frame.begin() + updater::kWriteFlashPacketHeader.size(), frame.end(), fill);
    return frame;
}

class StandinDriverTest : public ::testing::Test {
  protected:
    StandinDriverTest() : StandinDriverTest(Controls{}) {}
    explicit StandinDriverTest(Controls controls) : driver_(std::move(controls)) {}

    Handle openBox() {
        Handle handle = usb::kNoHandle;
        EXPECT_EQ(driver_.open(0, handle), usb::kSuccess);
        return handle;
    }

    // Writes a frame and reads back what the box answered.
    std::vector<std::uint8_t> send(Handle handle, std::span<const std::uint8_t> frame) {
        std::uint32_t written = 0;
        EXPECT_EQ(driver_.write(handle, frame.data(), sizeOf(frame), written), usb::kSuccess);
        std::uint32_t queued = 0;
        std::uint32_t queueStatus = 0;
        EXPECT_EQ(driver_.checkRxQueue(handle, queued, queueStatus), usb::kSuccess);
        std::vector<std::uint8_t> reply(queued);
        std::uint32_t read = 0;
        EXPECT_EQ(driver_.read(handle, reply.data(), queued, read), usb::kSuccess);
        EXPECT_EQ(read, queued);
        return reply;
    }

    // Enters programming mode for FPGA2 and selects block 0.
    void startWriting(Handle handle) {
        send(handle, updater::enterIspFrame(updater::kFpga2EnterIspByte2));
        send(handle, updater::setBlockIndexFrame(0));
    }

    StandinDriver driver_;
};

TEST_F(StandinDriverTest, OneBoxWithTheSerialTheProgramsLookFor) {
    std::uint32_t count = 0;
    ASSERT_EQ(driver_.getNumDevices(count), usb::kSuccess);
    EXPECT_EQ(count, 1u);

    char buffer[usb::kDeviceStringSize];
    ASSERT_EQ(driver_.getDeviceString(0, buffer, usb::kStringSerialNumber), usb::kSuccess);
    EXPECT_STREQ(buffer, "2031");
    ASSERT_EQ(driver_.getDeviceString(0, buffer, usb::kStringLinkName), usb::kSuccess);
    EXPECT_GT(std::string(buffer).size(), 0u);
    EXPECT_EQ(driver_.getDeviceString(1, buffer, usb::kStringSerialNumber), usb::kDeviceNotFound);
    EXPECT_EQ(driver_.getDeviceString(0, nullptr, usb::kStringSerialNumber),
              usb::kInvalidParameter);
}

TEST_F(StandinDriverTest, OneOpenHandleAtATime) {
    Handle handle = openBox();
    EXPECT_NE(handle, usb::kNoHandle);

    Handle second = 0;
    EXPECT_EQ(driver_.open(0, second), usb::kAccessDenied);
    EXPECT_EQ(second, usb::kNoHandle);
    EXPECT_EQ(driver_.open(1, second), usb::kDeviceNotFound);

    EXPECT_EQ(driver_.close(handle), usb::kSuccess);
    EXPECT_EQ(driver_.close(handle), usb::kInvalidHandle);
    EXPECT_EQ(openBox(), handle);

    const std::string state = driver_.stateText();
    EXPECT_NE(state.find("opens=2\n"), std::string::npos) << state;
    EXPECT_NE(state.find("open-attempts=4\n"), std::string::npos) << state;
    EXPECT_NE(state.find("closes=1\n"), std::string::npos) << state;
}

TEST_F(StandinDriverTest, EveryHandleCallNeedsTheOpenHandle) {
    const Handle open = openBox();
    std::uint8_t byte = 0;
    std::uint32_t n = 0;
    std::uint32_t m = 0;
    for (Handle wrong : {usb::kNoHandle, open + 1}) {
        SCOPED_TRACE(wrong);
        EXPECT_EQ(driver_.read(wrong, &byte, 1, n), usb::kInvalidHandle);
        EXPECT_EQ(driver_.write(wrong, &byte, 1, n), usb::kInvalidHandle);
        EXPECT_EQ(driver_.flushBuffers(wrong, 1, 1), usb::kInvalidHandle);
        EXPECT_EQ(driver_.checkRxQueue(wrong, n, m), usb::kInvalidHandle);
        EXPECT_EQ(driver_.close(wrong), usb::kInvalidHandle);
    }
}

TEST_F(StandinDriverTest, RepliesQueueUpAndReadsTakeWhatIsThere) {
    const Handle handle = openBox();
    const auto enter = updater::enterIspFrame(updater::kFpga2EnterIspByte2);
    std::uint32_t n = 0;
    ASSERT_EQ(driver_.write(handle, enter.data(), sizeOf(enter), n), usb::kSuccess);
    EXPECT_EQ(n, sizeOf(enter));

    std::uint32_t queued = 0;
    std::uint32_t queueStatus = 0;
    ASSERT_EQ(driver_.checkRxQueue(handle, queued, queueStatus), usb::kSuccess);
    EXPECT_EQ(queued, 2u);
    EXPECT_EQ(queueStatus, usb::kRxQueueReady);

    // A read asking for more than is queued returns what there is: a short read.
    std::array<std::uint8_t, 8> reply{};
    ASSERT_EQ(driver_.read(handle, reply.data(), 1, n), usb::kSuccess);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(reply[0], 0x78);
    ASSERT_EQ(driver_.read(handle, reply.data(), 8, n), usb::kSuccess);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(reply[0], updater::kAccepted);

    // A flush drops an answer nobody read.
    ASSERT_EQ(driver_.write(handle, updater::kExitIspFrame.data(), 5, n), usb::kSuccess);
    ASSERT_EQ(driver_.flushBuffers(handle, 1, 1), usb::kSuccess);
    ASSERT_EQ(driver_.checkRxQueue(handle, queued, queueStatus), usb::kSuccess);
    EXPECT_EQ(queued, 0u);
    EXPECT_EQ(queueStatus, usb::kRxQueueEmpty);
}

TEST_F(StandinDriverTest, TimeoutsAreKept) {
    ASSERT_EQ(driver_.setTimeouts(4000, 250), usb::kSuccess);
    std::uint32_t readMs = 0;
    std::uint32_t writeMs = 0;
    ASSERT_EQ(driver_.getTimeouts(readMs, writeMs), usb::kSuccess);
    EXPECT_EQ(readMs, 4000u);
    EXPECT_EQ(writeMs, 250u);
}

class RefusedPacketTest : public StandinDriverTest {
  protected:
    RefusedPacketTest()
        : StandinDriverTest(
              Controls{.dumpDir = "", .refusePacket = 3, .holdFile = "", .commandFile = ""}) {}
};

TEST_F(RefusedPacketTest, OnlyTheChosenPacketIsRefused) {
    const Handle handle = openBox();
    startWriting(handle);
    const std::vector<std::uint8_t> accepted{0x50, updater::kAccepted};
    const std::vector<std::uint8_t> refused{0x50, 0x00};
    EXPECT_EQ(send(handle, packetFrame(0xA1)), accepted);
    EXPECT_EQ(send(handle, packetFrame(0xA2)), accepted);
    EXPECT_EQ(send(handle, packetFrame(0xA3)), refused);
    EXPECT_EQ(send(handle, packetFrame(0xA4)), accepted);

    const std::string state = driver_.stateText();
    EXPECT_NE(state.find("refuse-packet=3\n"), std::string::npos) << state;
    EXPECT_NE(state.find("writes=3\n"), std::string::npos) << state;
}

struct ControlCase {
    const char* value;
    std::int64_t expected;
};

class ControlParsingTest : public ::testing::TestWithParam<ControlCase> {};

TEST_P(ControlParsingTest, RefusePacketVariable) {
    const ControlCase& c = GetParam();
    ::setenv(Controls::kRefusePacketVariable, c.value, 1);
    EXPECT_EQ(Controls::fromEnvironment().refusePacket, c.expected) << '"' << c.value << '"';
    ::unsetenv(Controls::kRefusePacketVariable);
}

// A mistyped value shows as -1 in the state rather than meaning "refuse none".
INSTANTIATE_TEST_SUITE_P(Values, ControlParsingTest,
                         ::testing::Values(ControlCase{"", 0}, ControlCase{"40", 40},
                                           ControlCase{"1", 1}, ControlCase{"4O", -1},
                                           ControlCase{"-2", -1}, ControlCase{" 3", -1}));

class DumpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/telmar-standin-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string slurp(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir_;
};

TEST_F(DumpTest, OpenAndCloseLeaveStateAndFlashInTheFolder) {
    StandinDriver driver(
        Controls{.dumpDir = dir_.string(), .refusePacket = 0, .holdFile = "", .commandFile = ""});
    Handle handle = usb::kNoHandle;
    ASSERT_EQ(driver.open(0, handle), usb::kSuccess);
    EXPECT_NE(slurp("state.txt").find("open=1\n"), std::string::npos);

    std::uint32_t n = 0;
    const auto enter = updater::enterIspFrame(updater::kFpga2EnterIspByte2);
    const auto block = updater::setBlockIndexFrame(1);
    const auto packet = packetFrame(0x5C);
    ASSERT_EQ(driver.write(handle, enter.data(), sizeOf(enter), n), usb::kSuccess);
    ASSERT_EQ(driver.write(handle, block.data(), sizeOf(block), n), usb::kSuccess);
    ASSERT_EQ(driver.write(handle, packet.data(), sizeOf(packet), n), usb::kSuccess);
    ASSERT_EQ(driver.close(handle), usb::kSuccess);

    const std::string state = slurp("state.txt");
    EXPECT_NE(state.find("open=0\n"), std::string::npos) << state;
    EXPECT_NE(state.find("isp=1\n"), std::string::npos) << state;
    EXPECT_NE(state.find("flash=fpga2\n"), std::string::npos) << state;
    EXPECT_FALSE(fs::exists(dir_ / "state.txt.tmp"));

    const std::string fpga2 = slurp("fpga2.bin");
    ASSERT_EQ(fpga2.size(), kFpga2Blocks * kFlashBlockSize);
    EXPECT_EQ(fpga2.substr(kFlashBlockSize, kFlashPacketSize), std::string(16, '\x5C'));
    EXPECT_EQ(slurp("fpga1.bin").size(), kFpga1Blocks * kFlashBlockSize);
}

TEST_F(DumpTest, TheFirstPacketWaitsForTheHoldFile) {
    const fs::path release = dir_ / "release";
    StandinDriver driver(Controls{.dumpDir = dir_.string(),
                                  .refusePacket = 0,
                                  .holdFile = release.string(),
                                  .commandFile = ""});
    Handle handle = usb::kNoHandle;
    ASSERT_EQ(driver.open(0, handle), usb::kSuccess);
    std::uint32_t n = 0;
    const auto enter = updater::enterIspFrame(updater::kFpga2EnterIspByte2);
    const auto block = updater::setBlockIndexFrame(0);
    ASSERT_EQ(driver.write(handle, enter.data(), sizeOf(enter), n), usb::kSuccess);
    ASSERT_EQ(driver.write(handle, block.data(), sizeOf(block), n), usb::kSuccess);

    Status packetStatus = usb::kTimedOut;
    std::thread writer([&] {
        const auto packet = packetFrame(0x33);
        std::uint32_t written = 0;
        packetStatus = driver.write(handle, packet.data(), sizeOf(packet), written);
    });
    // The gate announces itself in the dump before it waits.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (slurp("state.txt").find("held=1\n") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_NE(slurp("state.txt").find("held=1\n"), std::string::npos);
    EXPECT_NE(driver.stateText().find("writes=0\n"), std::string::npos);
    std::ofstream(release).put('\n');
    writer.join();

    EXPECT_EQ(packetStatus, usb::kSuccess);
    const std::string state = driver.stateText();
    EXPECT_NE(state.find("held=0\n"), std::string::npos) << state;
    EXPECT_NE(state.find("writes=1\n"), std::string::npos) << state;
}

// What the control panel's Wine test does to the box from outside: a setting lands in
// the dump, an unplug kills the open handle (its close fails but frees it), and after a
// plug the box opens again.
TEST_F(DumpTest, CommandsChangeInputAndPlugTheBox) {
    const fs::path commands = dir_ / "commands.txt";
    StandinDriver driver(Controls{.dumpDir = dir_.string(),
                                  .refusePacket = 0,
                                  .holdFile = "",
                                  .commandFile = commands.string()});
    const auto command = [&](const char* text) { std::ofstream(commands) << text; };
    std::uint32_t count = 0;
    std::uint32_t n = 0;
    Handle handle = usb::kNoHandle;
    ASSERT_EQ(driver.open(0, handle), usb::kSuccess);
    const std::array<std::uint8_t, 5> ledOff{0x10, 0x04, 0xE0, 0x00, 0x00};
    ASSERT_EQ(driver.write(handle, ledOff.data(), sizeOf(ledOff), n), usb::kSuccess);
    EXPECT_NE(slurp("state.txt").find("settings= 0 1 "), std::string::npos) << slurp("state.txt");

    command("scenario 4k60-hdr\nunplug\n");
    ASSERT_EQ(driver.getNumDevices(count), usb::kSuccess);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(fs::exists(commands));
    std::string state = slurp("state.txt");
    EXPECT_NE(state.find("plugged=0\nhpd=0\nscenario=4k60-hdr\n"), std::string::npos) << state;
    EXPECT_NE(driver.write(handle, ledOff.data(), sizeOf(ledOff), n), usb::kSuccess);
    EXPECT_EQ(driver.close(handle), usb::kDeviceIoFailed);
    EXPECT_EQ(driver.close(handle), usb::kInvalidHandle);
    EXPECT_NE(driver.open(0, handle), usb::kSuccess);

    command("plug\n");
    ASSERT_EQ(driver.getNumDevices(count), usb::kSuccess);
    EXPECT_EQ(count, 1u);
    ASSERT_EQ(driver.open(0, handle), usb::kSuccess);
    state = driver.stateText();
    EXPECT_NE(state.find("opens=2\n"), std::string::npos) << state;
    EXPECT_NE(state.find("closes=1\n"), std::string::npos) << state;
}

} // namespace
} // namespace telmar::sim::standin
