// SPDX-License-Identifier: MIT
#include "link/UpdaterLink.h"

#include "tests/link/LinkFixture.h"
#include "tests/support/VirtualClock.h"

#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>

namespace telmar::test {
namespace {

class UpdaterLinkTest : public ::testing::Test {
  protected:
    link::VirtualClock clock;
    ScriptedDriver driver{clock};
    RecordingMessages messages;
    link::UpdaterLink link{driver, clock, messages, messages};

    void connectBox() {
        driver.addDevice("2031");
        link.connectDevice();
        ASSERT_NE(link.deviceHandle(), usb::kNoHandle);
        driver.clearCalls();
    }
    bool exchange(const Bytes& request, Bytes& reply) { return link.exchange(request, reply); }
};

struct SerialCase {
    std::vector<std::optional<std::string>> serials;
    bool found;
    std::uint32_t index;
    std::vector<std::string> warnings;
};

void PrintTo(const SerialCase& c, std::ostream* os) {
    for (const auto& serial : c.serials) {
        *os << (serial ? '"' + *serial + '"' : std::string("unreadable")) << ' ';
    }
}

class UpdaterConnect : public ::testing::TestWithParam<SerialCase> {};

TEST_P(UpdaterConnect, FindsTheBoxBySerial) {
    link::VirtualClock clock;
    ScriptedDriver driver(clock);
    RecordingMessages messages;
    link::UpdaterLink link(driver, clock, messages, messages);
    for (const auto& serial : GetParam().serials) {
        driver.addDevice(serial);
    }
    const auto result = link.connectDevice();
    EXPECT_EQ(result, GetParam().found ? link::UpdaterLink::Connect::Opened
                                       : link::UpdaterLink::Connect::NotFound);
    EXPECT_EQ(link.deviceHandle() != usb::kNoHandle, GetParam().found);
    EXPECT_EQ(messages.warningTexts(), GetParam().warnings);
    for (const auto& w : messages.warnings()) {
        EXPECT_EQ(w.caption, " ");
    }
    if (GetParam().found) {
        const auto calls = driver.calls();
        EXPECT_EQ(calls.back().call, Call::Flush);
        bool openedWanted = false;
        for (const auto& c : calls) {
            if (c.call == Call::Open) {
                openedWanted = c.index == GetParam().index;
            }
        }
        EXPECT_TRUE(openedWanted);
    }
}

const std::string kNotConnected = "Usb device not connected!";
const std::string kSerialError = "Error retrieving serial string!";

INSTANTIATE_TEST_SUITE_P(
    Serials, UpdaterConnect,
    ::testing::Values(
        SerialCase{{"1111", "2031", "2031"}, true, 1, {}},
        SerialCase{{"20310"}, false, 0, {kNotConnected}},
        SerialCase{{"2031 "}, false, 0, {kNotConnected}},
        SerialCase{{"203"}, false, 0, {kNotConnected}}, SerialCase{{}, false, 0, {kNotConnected}},
        SerialCase{{std::nullopt, "2031"}, true, 1, {kSerialError}},
        SerialCase{
            {std::nullopt, std::nullopt}, false, 0, {kSerialError, kSerialError, kNotConnected}}));

TEST_F(UpdaterLinkTest, FailedCountCountsAsNoDevice) {
    driver.addDevice("2031");
    driver.setCountFails();
    link.connectDevice();
    EXPECT_EQ(link.deviceHandle(), usb::kNoHandle);
    EXPECT_EQ(messages.warningTexts(), std::vector<std::string>{kNotConnected});
}

TEST_F(UpdaterLinkTest, ConnectAtIndexZeroCallsTheDriverInOrder) {
    driver.addDevice("2031", "usb:1-4.2");
    link.connectDevice();
    const auto calls = driver.calls();
    EXPECT_EQ(driver.ordinals(), (std::vector<int>{kCount, kString, kString, kOpen, kFlush}));
    EXPECT_EQ(calls[1].option, usb::kStringSerialNumber);
    EXPECT_EQ(calls[2].option, usb::kStringLinkName);
    EXPECT_EQ(calls[2].index, 0u);
    EXPECT_EQ(calls[3].index, 0u);
    EXPECT_TRUE(messages.warnings().empty());
}

struct ConnectFault {
    Call call;
    int skip; // calls of that kind that succeed first
    bool closes;
    const char* name;
    bool openLeavesJunk = false; // the failed open writes a handle value anyway
};

void PrintTo(const ConnectFault& c, std::ostream* os) {
    *os << c.name;
}

class UpdaterConnectFaults : public UpdaterLinkTest,
                             public ::testing::WithParamInterface<ConnectFault> {};

TEST_P(UpdaterConnectFaults, EndTheAttemptSilently) {
    driver.addDevice("2031");
    driver.failCallAfter(GetParam().call, GetParam().skip);
    if (GetParam().openLeavesJunk) {
        driver.setFailedOpenHandle(0x4242);
    }
    // The box is there: the caller must be able to tell the user it is in use.
    EXPECT_EQ(link.connectDevice(), GetParam().call == Call::Flush
                                        ? link::UpdaterLink::Connect::NotPrepared
                                        : link::UpdaterLink::Connect::NotOpened);
    EXPECT_EQ(link.deviceHandle(), usb::kNoHandle);
    EXPECT_TRUE(messages.warnings().empty());
    EXPECT_EQ(driver.ordinals().back() == kClose, GetParam().closes);
    EXPECT_EQ(driver.openHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, UpdaterConnectFaults,
    ::testing::Values(ConnectFault{Call::GetDeviceString, 1, false, "linkName"},
                      ConnectFault{Call::Open, 0, false, "open"},
                      ConnectFault{Call::Open, 0, false, "openLeavesJunk", true},
                      ConnectFault{Call::Flush, 0, true, "flush"}),
    [](const auto& tp) { return std::string(tp.param.name); });

TEST_F(UpdaterLinkTest, FlushFailureClosesTheHandleAgainAndReportsAFailedClose) {
    driver.addDevice("2031");
    driver.failCall(Call::Flush);
    driver.failCall(Call::Close);
    link.connectDevice();
    EXPECT_EQ(link.deviceHandle(), usb::kNoHandle);
    EXPECT_EQ(messages.warningTexts(), std::vector<std::string>{"Unable to close device handle!"});
}

TEST_F(UpdaterLinkTest, SuccessfulExchangeCallsWriteQueueRead) {
    connectBox();
    driver.queueReply({0x00, 0x01}, 3);
    Bytes reply(2);
    EXPECT_TRUE(exchange({0x10, 0x05, 0x50, 0x02, 0x00}, reply));
    EXPECT_EQ(collapsedOrdinals(driver), (std::vector<int>{kWrite, kQueue, kRead}));
    EXPECT_EQ(driver.calls().back().count, 2u);
    EXPECT_EQ(reply, (Bytes{0x00, 0x01}));
    EXPECT_TRUE(messages.lines().empty());
}

TEST_F(UpdaterLinkTest, ShortReplyDrawsTheLineAndSucceedsWithUndeliveredBytesZero) {
    connectBox();
    Bytes reply{0x77, 0x01}; // a stale 01 must not survive a short reply
    driver.queueReply({0x00});
    EXPECT_TRUE(exchange({0x10, 0x05, 0x50, 0x01, 0x00}, reply));
    EXPECT_EQ(reply, (Bytes{0x00, 0x00}));
    ASSERT_EQ(messages.lines().size(), 1u);
    EXPECT_EQ(messages.lines()[0].y, 10);
    EXPECT_EQ(messages.lines()[0].text, "BytesRead not same as datalength" + std::string(16, ' '));
    EXPECT_EQ(messages.lines()[0].text.size(), 48u);
}

TEST_F(UpdaterLinkTest, LongReplyIsReadOnlyAsFarAsAsked) {
    connectBox();
    driver.queueReply({0x00, 0x01, 0x02, 0x03});
    Bytes reply(2);
    EXPECT_TRUE(exchange({0x10, 0x05, 0x50, 0x02, 0x00}, reply));
    EXPECT_EQ(reply, (Bytes{0x00, 0x01}));
    EXPECT_TRUE(messages.lines().empty());
}

class UpdaterNoReply : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(UpdaterNoReply, WaitEndsAfter2000msFromTheWrite) {
    link::VirtualClock clock(GetParam());
    ScriptedDriver driver(clock);
    RecordingMessages messages;
    link::UpdaterLink link(driver, clock, messages, messages);
    driver.addDevice("2031");
    link.connectDevice();
    ASSERT_NE(link.deviceHandle(), usb::kNoHandle);
    const std::uint32_t start = clock.tickMs();
    Bytes reply(2);
    EXPECT_FALSE(link.exchange(Bytes{0x10, 0x05, 0x50, 0x02, 0x00}, reply));
    const std::uint32_t waited = link::elapsedMs(start, clock.tickMs());
    EXPECT_GE(waited, 2000u);
    EXPECT_LE(waited, 2001u);
    EXPECT_TRUE(messages.warnings().empty());
    EXPECT_TRUE(messages.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(Ticks, UpdaterNoReply,
                         ::testing::Values(0u, 0xFFFFFFFFu - 500u, 0xFFFFFFFFu - 1999u));

struct ExchangeFault {
    Call call;
    int times;
    std::vector<std::string> warnings;
    const char* name;
};

void PrintTo(const ExchangeFault& c, std::ostream* os) {
    *os << c.name;
}

class UpdaterExchangeFaults : public UpdaterLinkTest,
                              public ::testing::WithParamInterface<ExchangeFault> {};

TEST_P(UpdaterExchangeFaults, ShowTheirBoxAndFail) {
    connectBox();
    driver.failCall(GetParam().call, GetParam().times);
    driver.queueReply({0x00, 0x01});
    Bytes reply(2);
    EXPECT_FALSE(exchange({0x10, 0x05, 0x50, 0x02, 0x00}, reply));
    EXPECT_EQ(messages.warningTexts(), GetParam().warnings);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, UpdaterExchangeFaults,
    ::testing::Values(ExchangeFault{Call::Write, 1, {"Error Sending Code"}, "write"},
                      ExchangeFault{Call::CheckRxQueue,
                                    2,
                                    {"Error Checking Queue", "Error Checking Queue"},
                                    "queue"},
                      ExchangeFault{Call::Read, 1, {"Error Reading Data"}, "read"}),
    [](const auto& tp) { return std::string(tp.param.name); });

TEST_F(UpdaterLinkTest, ExchangeWithNoDeviceMakesNoDriverCall) {
    Bytes reply(2);
    EXPECT_FALSE(exchange({0x11, 0x01, 0xDC}, reply));
    EXPECT_TRUE(driver.calls().empty());
    EXPECT_TRUE(messages.warnings().empty());
}

TEST_F(UpdaterLinkTest, CloseTwiceMakesOneDriverCall) {
    connectBox();
    link.closeDevice();
    link.closeDevice();
    EXPECT_EQ(driver.ordinals(), std::vector<int>{kClose});
    EXPECT_EQ(link.deviceHandle(), usb::kNoHandle);
}

TEST_F(UpdaterLinkTest, TimeoutsAreNeverTouched) {
    connectBox();
    driver.queueReply({0x00, 0x01});
    Bytes reply(2);
    EXPECT_TRUE(exchange({0x10, 0x05, 0x50, 0x02, 0x00}, reply));
    for (int o : driver.ordinals()) {
        EXPECT_NE(o, kSetTimeouts);
        EXPECT_NE(o, kGetTimeouts);
    }
}

} // namespace
} // namespace telmar::test
