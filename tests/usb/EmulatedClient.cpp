// SPDX-License-Identifier: MIT
// The program under test in the umockdev tests: the control panel's link over the
// libusb backend, run by LibusbEmulationTest inside the emulated bus. Each test here
// is one scenario the parent arranges; it is not registered with CTest itself.

#include "backends/Diagnostics.h"
#include "backends/DriverFactory.h"
#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/RecordingStatusSink.h"
#include "tests/support/ScaledClock.h"
#include "tests/usb/emulation/Bus.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace telmar;
using namespace std::chrono_literals;
namespace bus = test::usbemu::bus;
using Steady = std::chrono::steady_clock;

// Link time runs 20 times faster than real time, so a 4000 ms wait for a reply
// that never comes ends after a fifth of a second while the USB side stays real.
constexpr std::uint32_t kLinkSpeedUp = 20;

class LinkClient : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("UMOCKDEV_DIR") == nullptr) {
            GTEST_SKIP() << "runs only inside the emulated bus";
        }
        alarm(60);
        driver = backends::createDriver();
        panel = std::make_unique<link::PanelLink>(*driver, clock, messages);
        requests = std::make_unique<protocol::ControlProtocol>(*panel, status);
    }

    void panelRequests();

    void openBox() {
        std::uint32_t index = 99;
        ASSERT_TRUE(panel->findDevice(bus::kBoxSerial, index));
        ASSERT_EQ(index, bus::kBoxIndex);
        ASSERT_TRUE(panel->openDevice(index));
    }

    std::unique_ptr<usb::Driver> driver;
    test::ScaledClock clock{kLinkSpeedUp, kLinkSpeedUp};
    test::RecordingMessages messages;
    test::RecordingStatusSink status;
    std::unique_ptr<link::PanelLink> panel;
    std::unique_ptr<protocol::ControlProtocol> requests;
};

TEST_F(LinkClient, PanelRequests) {
    panelRequests();
}

// The parent records PanelRequests with TELMAR_TRACE and hands the file back in
// TELMAR_REPLAY: the same session must replay from it call for call.
TEST_F(LinkClient, PanelRequestsReplayed) {
    auto replay = backends::createReplayDriver(std::getenv("TELMAR_REPLAY"), std::cerr);
    backends::ReplayDriver& played = *replay;
    driver = std::move(replay);
    panel = std::make_unique<link::PanelLink>(*driver, clock, messages);
    requests = std::make_unique<protocol::ControlProtocol>(*panel, status);
    EXPECT_EQ(played.header().backend, "usb");
    panelRequests();
    EXPECT_FALSE(played.mismatch()) << *played.mismatch();
    EXPECT_EQ(played.unplayedReport(), "every call played");
}

void LinkClient::panelRequests() {
    openBox();
    link::Reply reply{};
    EXPECT_TRUE(requests->writeRegister(protocol::Register::EdidMode, 3));
    EXPECT_TRUE(requests->readSettings(reply, 0x16));
    EXPECT_EQ(reply[0], 0xE1);
    reply.fill(0);
    EXPECT_TRUE(requests->readBlock(9, reply, 8));
    EXPECT_EQ(reply[0], 0xE0);
    panel->closeDevice();
    EXPECT_EQ(panel->deviceHandle(), usb::kNoHandle);
    EXPECT_TRUE(messages.warnings().empty());
    EXPECT_TRUE(status.shown.empty());
}

TEST_F(LinkClient, DeviceVanishes) {
    openBox();
    const usb::Handle handle = panel->deviceHandle();
    EXPECT_TRUE(requests->writeRegister(protocol::Register::EdidMode, 3));
    // The device leaves the bus as the next exchange begins (the parent arranges it).
    link::Reply reply{};
    for (int i = 0; i < 3; ++i) {
        // The write fails at once, long before the reply wait would have ended.
        const std::uint32_t start = clock.tickMs();
        EXPECT_FALSE(requests->readSettings(reply, 0x16));
        EXPECT_LT(clock.tickMs() - start, link::PanelLink::kTimeoutMs);
        EXPECT_FALSE(panel->linkBusy());
    }
    EXPECT_EQ(status.texts(), std::vector<std::string>(3, "Error Reading values"));
    // Every later call on the handle fails at once.
    std::uint32_t queued = 0;
    std::uint32_t state = 0;
    std::uint32_t n = 0;
    std::array<std::uint8_t, 8> buffer{};
    // Long time-outs, so that "at once" cannot be mistaken for "after the time-out".
    driver->setTimeouts(10000, 10000);
    const auto start = Steady::now();
    EXPECT_NE(driver->checkRxQueue(handle, queued, state), usb::kSuccess);
    EXPECT_NE(driver->read(handle, buffer.data(), 8, n), usb::kSuccess);
    EXPECT_NE(driver->write(handle, buffer.data(), 4, n), usb::kSuccess);
    EXPECT_NE(driver->flushBuffers(handle, 1, 1), usb::kSuccess);
    EXPECT_LT(Steady::now() - start, 2s);

    panel->closeDevice();
    EXPECT_EQ(panel->deviceHandle(), usb::kNoHandle);
    EXPECT_EQ(messages.warningTexts(), std::vector<std::string>{"Unable to close device handle!"});
}

TEST_F(LinkClient, ReplyNeverComes) {
    openBox();
    link::Reply reply{};
    // The parent drops the reply to the first frame.
    const std::uint32_t before = clock.tickMs();
    EXPECT_FALSE(requests->readSettings(reply, 0x16));
    EXPECT_GE(clock.tickMs() - before, link::PanelLink::kTimeoutMs);
    EXPECT_TRUE(messages.warnings().empty()); // no failed queue check, only silence
    EXPECT_FALSE(panel->linkBusy());

    EXPECT_TRUE(requests->readSettings(reply, 0x16));
    EXPECT_EQ(reply[0], 0xE1);
    panel->closeDevice();
    EXPECT_TRUE(messages.warnings().empty());
}

TEST_F(LinkClient, PermissionDenied) {
    // Run as a user who may not open the device nodes.
    std::uint32_t index = 99;
    EXPECT_FALSE(panel->findDevice(bus::kBoxSerial, index));
    EXPECT_EQ(messages.warningTexts(), std::vector<std::string>{"Connect USB cable to TELMAR"});
    usb::Handle handle = 0;
    EXPECT_EQ(driver->open(bus::kBoxIndex, handle), usb::kAccessDenied);
    EXPECT_EQ(handle, usb::kNoHandle);
}

TEST_F(LinkClient, DriverDetails) {
    std::uint32_t count = 0;
    ASSERT_EQ(driver->getNumDevices(count), usb::kSuccess);
    EXPECT_EQ(count, bus::kCountedDevices);

    struct StringCase {
        std::uint32_t option;
        const char* expected;
    };
    const StringCase strings[] = {
        {usb::kStringSerialNumber, "2031"}, {usb::kStringDescription, "TELMAR box"},
        {usb::kStringLinkName, "usb:1-4"},  {usb::kStringVid, "10c4"},
        {usb::kStringPid, "ea61"},
    };
    for (const auto& c : strings) {
        char text[usb::kDeviceStringSize] = "junk";
        EXPECT_EQ(driver->getDeviceString(bus::kBoxIndex, text, c.option), usb::kSuccess)
            << c.option;
        EXPECT_STREQ(text, c.expected) << c.option;
    }
    char text[usb::kDeviceStringSize] = {};
    EXPECT_EQ(driver->getDeviceString(bus::kBoxIndex, text, 5), usb::kInvalidParameter);
    EXPECT_NE(driver->getDeviceString(count, text, usb::kStringSerialNumber), usb::kSuccess);

    std::uint32_t readMs = 0;
    std::uint32_t writeMs = 0;
    driver->getTimeouts(readMs, writeMs);
    EXPECT_EQ(readMs, 1000u);
    EXPECT_EQ(writeMs, 1000u);

    usb::Handle handle = 0;
    EXPECT_NE(driver->open(bus::kNoBulkOutIndex, handle), usb::kSuccess);
    EXPECT_EQ(handle, usb::kNoHandle);
    EXPECT_NE(driver->open(count, handle), usb::kSuccess);

    ASSERT_EQ(driver->open(bus::kBoxIndex, handle), usb::kSuccess);
    // A serial read while the box is open uses the open handle.
    EXPECT_EQ(driver->getDeviceString(bus::kBoxIndex, text, usb::kStringSerialNumber),
              usb::kSuccess);
    EXPECT_STREQ(text, "2031");

    std::uint32_t queued = 1;
    std::uint32_t state = 1;
    const auto checkStart = Steady::now();
    EXPECT_EQ(driver->checkRxQueue(handle, queued, state), usb::kSuccess);
    EXPECT_LT(Steady::now() - checkStart, 1s);
    EXPECT_EQ(queued, 0u);
    EXPECT_EQ(state, usb::kRxQueueEmpty);

    // A reply of 8 bytes asked for as 64: a short read, not an error.
    const std::array<std::uint8_t, 4> readBlock = {0x11, 0x08, 0xE0, 0x09};
    std::uint32_t n = 0;
    ASSERT_EQ(driver->write(handle, readBlock.data(), 4, n), usb::kSuccess);
    EXPECT_EQ(n, 4u);
    driver->setTimeouts(2000, 1000);
    std::array<std::uint8_t, 64> buffer{};
    ASSERT_EQ(driver->read(handle, buffer.data(), 1, n), usb::kSuccess);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(buffer[0], 0xE0);
    driver->setTimeouts(50, 1000);
    ASSERT_EQ(driver->read(handle, buffer.data(), 64, n), usb::kSuccess);
    EXPECT_EQ(n, 7u);
    ASSERT_EQ(driver->read(handle, buffer.data(), 64, n), usb::kSuccess);
    EXPECT_EQ(n, 0u);

    // Flush drops what the box sent and nobody read.
    ASSERT_EQ(driver->write(handle, readBlock.data(), 4, n), usb::kSuccess);
    const auto deadline = Steady::now() + 2s;
    do {
        ASSERT_EQ(driver->checkRxQueue(handle, queued, state), usb::kSuccess);
    } while (queued < 8 && Steady::now() < deadline);
    EXPECT_EQ(queued, 8u);
    EXPECT_EQ(state, usb::kRxQueueReady);
    EXPECT_EQ(driver->flushBuffers(handle, 1, 1), usb::kSuccess);
    EXPECT_EQ(driver->checkRxQueue(handle, queued, state), usb::kSuccess);
    EXPECT_EQ(queued, 0u);

    EXPECT_EQ(driver->close(handle), usb::kSuccess);

    // A closed handle, and one never handed out, are invalid handles.
    for (const usb::Handle stale : {handle, usb::kNoHandle}) {
        EXPECT_EQ(driver->close(stale), usb::kInvalidHandle);
        EXPECT_EQ(driver->read(stale, buffer.data(), 8, n), usb::kInvalidHandle);
        EXPECT_EQ(driver->write(stale, readBlock.data(), 4, n), usb::kInvalidHandle);
        EXPECT_EQ(driver->flushBuffers(stale, 1, 1), usb::kInvalidHandle);
        EXPECT_EQ(driver->checkRxQueue(stale, queued, state), usb::kInvalidHandle);
    }
}

TEST_F(LinkClient, IdListFromEnvironment) {
    // The parent sets TELMAR_USB_IDS; TELMAR_TEST_EXPECTED_COUNT says what it should give.
    const char* expected = std::getenv("TELMAR_TEST_EXPECTED_COUNT");
    ASSERT_NE(expected, nullptr);
    std::uint32_t count = 0;
    ASSERT_EQ(driver->getNumDevices(count), usb::kSuccess);
    EXPECT_EQ(count, static_cast<std::uint32_t>(std::stoul(expected)));
}

} // namespace
