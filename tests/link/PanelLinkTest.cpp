// SPDX-License-Identifier: MIT
#include "link/PanelLink.h"

#include "tests/link/LinkFixture.h"
#include "tests/support/VirtualClock.h"

#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>

namespace telmar::test {
namespace {

constexpr std::string_view kConnect = "Connect USB cable to TELMAR";

class PanelLinkTest : public ::testing::Test {
  protected:
    link::VirtualClock clock;
    ScriptedDriver driver{clock};
    RecordingMessages messages;
    link::PanelLink link{driver, clock, messages};

    void openBox() {
        driver.addDevice("2031");
        ASSERT_TRUE(link.openDevice(0));
        driver.clearCalls();
    }
    bool exchange(link::Reply& reply, const Bytes& request, std::uint32_t minReply) {
        return link.exchange(request, reply, minReply);
    }
};

struct SerialCase {
    std::vector<std::optional<std::string>> serials;
    bool found;
    std::uint32_t index;
};

void PrintTo(const SerialCase& c, std::ostream* os) {
    for (const auto& serial : c.serials) {
        *os << (serial ? '"' + *serial + '"' : std::string("unreadable")) << ' ';
    }
}

class PanelFindDevice : public ::testing::TestWithParam<SerialCase> {};

TEST_P(PanelFindDevice, MatchesTheSerialExactly) {
    link::VirtualClock clock;
    ScriptedDriver driver(clock);
    RecordingMessages messages;
    link::PanelLink link(driver, clock, messages);
    for (const auto& serial : GetParam().serials) {
        driver.addDevice(serial);
    }
    std::uint32_t index = 99;
    EXPECT_EQ(link.findDevice("2031", index), GetParam().found);
    if (GetParam().found) {
        EXPECT_EQ(index, GetParam().index);
        EXPECT_TRUE(messages.warnings().empty());
    } else {
        EXPECT_EQ(index, 99u);
        ASSERT_EQ(messages.warnings().size(), 1u);
        EXPECT_EQ(messages.warnings()[0], (ShownWarning{std::string(kConnect), " "}));
    }
    EXPECT_EQ(link.deviceHandle(), usb::kNoHandle);
}

INSTANTIATE_TEST_SUITE_P(
    Serials, PanelFindDevice,
    ::testing::Values(SerialCase{{"1111", "2031", "2031"}, true, 1}, SerialCase{{"2031"}, true, 0},
                      SerialCase{{"20310"}, false, 0}, SerialCase{{"2031 "}, false, 0},
                      SerialCase{{"203"}, false, 0}, SerialCase{{}, false, 0},
                      // An unreadable string is passed over silently; a later device still matches.
                      SerialCase{{std::nullopt, "2031"}, true, 1},
                      SerialCase{{std::nullopt}, false, 0}));

TEST_F(PanelLinkTest, FailedCountShowsConnectOnce) {
    driver.addDevice("2031");
    driver.setCountFails();
    std::uint32_t index = 0;
    EXPECT_FALSE(link.findDevice("2031", index));
    EXPECT_EQ(messages.warningTexts(), std::vector<std::string>{std::string(kConnect)});
    EXPECT_EQ(driver.ordinals(), (std::vector<int>{kCount}));
}

TEST_F(PanelLinkTest, OpenFailureShowsItsBoxAndLeavesNoHandle) {
    driver.addDevice("2031");
    driver.failCall(Call::Open);
    EXPECT_FALSE(link.openDevice(0));
    EXPECT_EQ(link.deviceHandle(), usb::kNoHandle);
    EXPECT_EQ(messages.warnings(), (std::vector<ShownWarning>{{"Usb device open error!", " "}}));
}

TEST_F(PanelLinkTest, SuccessfulExchangeCallsTheDriverInOrder) {
    openBox();
    driver.queueReply({0xE0, 0x00}, 5);
    link::Reply reply{};
    EXPECT_TRUE(exchange(reply, {0x10, 0x04, 0xE0, 0x00, 0x00}, 2));
    EXPECT_EQ(collapsedOrdinals(driver),
              (std::vector<int>{kFlush, kGetTimeouts, kSetTimeouts, kWrite, kSetTimeouts, kQueue,
                                kGetTimeouts, kSetTimeouts, kRead, kSetTimeouts}));
    const auto calls = driver.calls();
    EXPECT_EQ(calls[0].count, 1u);  // flush transmit
    EXPECT_EQ(calls[0].option, 1u); // flush receive
    EXPECT_EQ(calls[2].readMs, 0u);
    EXPECT_EQ(calls[2].writeMs, 4000u);
    EXPECT_EQ(calls[3].data, (Bytes{0x10, 0x04, 0xE0, 0x00, 0x00}));
    const auto& readCall = calls[calls.size() - 2];
    EXPECT_EQ(readCall.count, 64u);
    const auto& readTimeouts = calls[calls.size() - 3];
    EXPECT_EQ(readTimeouts.readMs, 4000u);
    EXPECT_EQ(readTimeouts.writeMs, 0u);
    EXPECT_EQ(reply[0], 0xE0);
    EXPECT_FALSE(link.linkBusy());
    EXPECT_TRUE(messages.warnings().empty());
}

struct ReplyCase {
    Bytes replyBytes;
    std::uint32_t minReply;
    bool ok;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.replyBytes.size() << " bytes, at least " << c.minReply;
}

class PanelReplyLength : public PanelLinkTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(PanelReplyLength, AcceptsAtLeastTheFewestBytesAndCopiesAll) {
    openBox();
    driver.queueReply(GetParam().replyBytes);
    link::Reply reply;
    reply.fill(0xAA);
    EXPECT_EQ(exchange(reply, {0x11, 0x08, 0xE0, 0x09}, GetParam().minReply), GetParam().ok);
    const auto& sent = GetParam().replyBytes;
    const std::size_t copied = std::min<std::size_t>(sent.size(), link::kReplySize);
    for (std::size_t i = 0; i < copied; ++i) {
        EXPECT_EQ(reply[i], sent[i]) << "byte " << i;
    }
    for (std::size_t i = copied; i < link::kReplySize; ++i) {
        EXPECT_EQ(reply[i], 0xAA) << "byte " << i << " must be left as it was";
    }
}

Bytes counting(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(i + 1);
    }
    return b;
}

INSTANTIATE_TEST_SUITE_P(Lengths, PanelReplyLength,
                         ::testing::Values(ReplyCase{counting(1), 2, false},
                                           ReplyCase{counting(10), 2, true},
                                           ReplyCase{counting(7), 8, false},
                                           ReplyCase{counting(40), 33, true},
                                           ReplyCase{counting(64), 64, true},
                                           // More than one read takes: only 64 arrive.
                                           ReplyCase{counting(80), 33, true}));

TEST_F(PanelLinkTest, DriverOverreportingTheReadCannotOverrunTheReply) {
    openBox();
    driver.queueReply(counting(10));
    driver.setReportedReadCount(5000);
    link::Reply reply{};
    EXPECT_TRUE(exchange(reply, {0x11, 0x08, 0xE0, 0x09}, 8));
    EXPECT_EQ(reply[9], 10);
}

// Start ticks just before the 32-bit counter wraps, and well clear of it.
class PanelNoReply : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(PanelNoReply, WaitEndsAfter4000msFromTheStart) {
    link::VirtualClock clock(GetParam());
    ScriptedDriver driver(clock);
    RecordingMessages messages;
    link::PanelLink link(driver, clock, messages);
    driver.addDevice("2031");
    ASSERT_TRUE(link.openDevice(0));
    driver.queueNoReply();
    link::Reply reply{};
    const Bytes request{0x11, 0x16, 0xE1};
    EXPECT_FALSE(link.exchange(request, reply, 22));
    const std::uint32_t waited = link::elapsedMs(GetParam(), clock.tickMs());
    EXPECT_GE(waited, 4000u);
    EXPECT_LE(waited, 4001u);
    EXPECT_TRUE(messages.warnings().empty());
    EXPECT_FALSE(link.linkBusy());
    // No read is attempted without a queued byte.
    for (int o : driver.ordinals()) {
        EXPECT_NE(o, kRead);
    }
}

INSTANTIATE_TEST_SUITE_P(Ticks, PanelNoReply,
                         ::testing::Values(0u, 1000u, 0xFFFFFFFFu - 100u, 0xFFFFFFFFu - 3999u));

TEST_F(PanelLinkTest, LateReplyWithinTheWaitIsTaken) {
    openBox();
    driver.queueReply({0xE0, 0x00}, 3990);
    link::Reply reply{};
    EXPECT_TRUE(exchange(reply, {0x10, 0x04, 0xE0, 0x00, 0x01}, 2));
}

TEST_F(PanelLinkTest, FailingQueueCheckShowsItsBoxEveryTimeAndFails) {
    openBox();
    driver.failCall(Call::CheckRxQueue, 2);
    driver.queueReply({0xE0, 0x00});
    link::Reply reply{};
    EXPECT_FALSE(exchange(reply, {0x10, 0x04, 0xE0, 0x00, 0x01}, 2));
    EXPECT_EQ(messages.warnings(), (std::vector<ShownWarning>{{"Error Checking RX Queue", " "},
                                                              {"Error Checking RX Queue", " "}}));
    // The reply came after the failures, yet the exchange stays failed and reads nothing.
    for (int o : driver.ordinals()) {
        EXPECT_NE(o, kRead);
    }
    EXPECT_FALSE(link.linkBusy());
}

struct FaultCase {
    Call call;
    const char* name;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class PanelFaults : public PanelLinkTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(PanelFaults, SilentFailureRestoresTheTimeouts) {
    openBox();
    ASSERT_EQ(driver.setTimeouts(123, 456), usb::kSuccess);
    driver.failCall(GetParam().call);
    driver.queueReply({0xE0, 0x00});
    link::Reply reply{};
    EXPECT_FALSE(exchange(reply, {0x10, 0x04, 0xE0, 0x00, 0x01}, 2));
    EXPECT_EQ(driver.readTimeoutMs(), 123u);
    EXPECT_EQ(driver.writeTimeoutMs(), 456u);
    EXPECT_TRUE(messages.warnings().empty());
    EXPECT_FALSE(link.linkBusy());
    EXPECT_NE(link.deviceHandle(), usb::kNoHandle) << "a failed exchange keeps the device open";
}

INSTANTIATE_TEST_SUITE_P(Calls, PanelFaults,
                         ::testing::Values(FaultCase{Call::Write, "write"},
                                           FaultCase{Call::Read, "read"}),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST_F(PanelLinkTest, TimeoutsRestoredAfterSuccessfulExchange) {
    openBox();
    ASSERT_EQ(driver.setTimeouts(77, 88), usb::kSuccess);
    driver.queueReply({0xE0, 0x00});
    link::Reply reply{};
    EXPECT_TRUE(exchange(reply, {0x10, 0x04, 0xE0, 0x00, 0x01}, 2));
    EXPECT_EQ(driver.readTimeoutMs(), 77u);
    EXPECT_EQ(driver.writeTimeoutMs(), 88u);
}

TEST_F(PanelLinkTest, FlushFailureIsIgnored) {
    openBox();
    driver.failCall(Call::Flush);
    driver.queueReply({0xE0, 0x00});
    link::Reply reply{};
    EXPECT_TRUE(exchange(reply, {0x10, 0x04, 0xE0, 0x00, 0x01}, 2));
}

TEST_F(PanelLinkTest, ExchangeWithNoDeviceMakesNoDriverCall) {
    link::Reply reply;
    reply.fill(0x55);
    EXPECT_FALSE(exchange(reply, {0x10, 0x04, 0xE0, 0x00, 0x01}, 2));
    EXPECT_TRUE(driver.calls().empty());
    EXPECT_FALSE(link.linkBusy());
    EXPECT_EQ(reply[0], 0x55);
}

TEST_F(PanelLinkTest, LinkBusyExactlyWhileAnExchangeRuns) {
    openBox();
    std::vector<bool> busyDuringCalls;
    driver.setResponder([&](std::span<const std::uint8_t>) {
        busyDuringCalls.push_back(link.linkBusy());
        return ScriptedReply{{0xE0, 0x00}, 0};
    });
    link::Reply reply{};
    EXPECT_FALSE(link.linkBusy());
    EXPECT_TRUE(exchange(reply, {0x10, 0x04, 0xE0, 0x00, 0x01}, 2));
    EXPECT_EQ(busyDuringCalls, std::vector<bool>{true});
    EXPECT_FALSE(link.linkBusy());
}

TEST_F(PanelLinkTest, CloseTwiceMakesOneDriverCall) {
    openBox();
    link.closeDevice();
    link.closeDevice();
    EXPECT_EQ(driver.ordinals(), std::vector<int>{kClose});
    EXPECT_EQ(link.deviceHandle(), usb::kNoHandle);
    EXPECT_TRUE(messages.warnings().empty());
}

TEST_F(PanelLinkTest, FailedCloseShowsItsBoxAndForgetsTheHandle) {
    openBox();
    driver.failCall(Call::Close);
    link.closeDevice();
    EXPECT_EQ(link.deviceHandle(), usb::kNoHandle);
    EXPECT_EQ(messages.warnings(),
              (std::vector<ShownWarning>{{"Unable to close device handle!", " "}}));
}

} // namespace
} // namespace telmar::test
