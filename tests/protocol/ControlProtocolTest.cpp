// SPDX-License-Identifier: MIT
#include "protocol/ControlProtocol.h"

#include "tests/protocol/ProtocolFixture.h"

#include <algorithm>
#include <optional>
#include <ostream>

namespace telmar::test {
namespace {

using protocol::Reply;

enum class Request { Write, Block, Settings };

struct RequestCase {
    const char* name;
    Request request;
    std::uint8_t a, b; // write: register, value; block: block, count; settings: count
    std::optional<Bytes> reply;
    Bytes frame;
    std::optional<ShownStatus> failure; // nullopt: succeeds
};

void PrintTo(const RequestCase& c, std::ostream* os) {
    *os << c.name;
}

bool run(protocol::ControlProtocol& p, const RequestCase& c, Reply& reply) {
    switch (c.request) {
    case Request::Write:
        return p.writeRegister(c.a, c.b);
    case Request::Block:
        return p.readBlock(c.a, reply, c.b);
    case Request::Settings:
        return p.readSettings(reply, c.a);
    }
    return false;
}

Bytes replyOf(std::uint8_t echo, std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i + 0x40);
    }
    bytes[0] = echo;
    return bytes;
}

const ShownStatus kWriteFail{"TELMAR not connected", 4000};
const ShownStatus kBlockFail{"...", 2000};
const ShownStatus kSettingsFail{"Error Reading values", 4000};

const RequestCase kCases[] = {
    {"WriteAccepted", Request::Write, 5, 3, Bytes{0xE0, 0x00}, {0x10, 0x04, 0xE0, 0x05, 0x03}, {}},
    {"WriteEchoE1", Request::Write, 0, 0, Bytes{0xE1, 0x00}, {0x10, 0x04, 0xE0, 0, 0}, kWriteFail},
    {"WriteOneByte", Request::Write, 0x12, 1, Bytes{0xE0}, {0x10, 0x04, 0xE0, 0x12, 1}, kWriteFail},
    {"WriteNoReply", Request::Write, 10, 1, {}, {0x10, 0x04, 0xE0, 0x0A, 1}, kWriteFail},
    {"BlockExact", Request::Block, 9, 8, replyOf(0xE0, 8), {0x11, 0x08, 0xE0, 0x09}, {}},
    {"BlockShort", Request::Block, 9, 8, replyOf(0xE0, 7), {0x11, 0x08, 0xE0, 0x09}, kBlockFail},
    {"BlockLonger", Request::Block, 14, 33, replyOf(0xE0, 40), {0x11, 33, 0xE0, 14}, {}},
    {"BlockEchoE1", Request::Block, 11, 7, replyOf(0xE1, 7), {0x11, 7, 0xE0, 11}, kBlockFail},
    {"BlockNoReply", Request::Block, 15, 16, {}, {0x11, 16, 0xE0, 15}, kBlockFail},
    {"SettingsExact", Request::Settings, 22, 0, replyOf(0xE1, 22), {0x11, 0x16, 0xE1}, {}},
    {"SettingsEchoE0",
     Request::Settings,
     22,
     0,
     replyOf(0xE0, 22),
     {0x11, 0x16, 0xE1},
     kSettingsFail},
    {"SettingsShort",
     Request::Settings,
     22,
     0,
     replyOf(0xE1, 21),
     {0x11, 0x16, 0xE1},
     kSettingsFail},
};

class RequestTest : public ProtocolFixture, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(RequestTest, SendsExactBytesOnceAndChecksTheReply) {
    const RequestCase& c = GetParam();
    c.reply ? driver.queueReply(*c.reply) : driver.queueNoReply();
    Reply reply;
    reply.fill(0xAA);

    EXPECT_EQ(run(protocol, c, reply), !c.failure);
    EXPECT_EQ(driver.writtenFrames(), std::vector<Bytes>{c.frame});
    EXPECT_EQ(status.shown, c.failure ? std::vector{*c.failure} : std::vector<ShownStatus>{});
    if (c.request != Request::Write && c.reply) {
        // Every byte that came stands in the reply area, the rest is untouched.
        const Bytes& sent = *c.reply;
        EXPECT_TRUE(std::equal(sent.begin(), sent.end(), reply.begin()));
        EXPECT_TRUE(std::all_of(reply.begin() + sent.size(), reply.end(),
                                [](std::uint8_t b) { return b == 0xAA; }));
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, RequestTest, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(ProtocolFixture, WithNoDeviceOpenEachRequestShowsItsOwnTextAndCallsNoDriver) {
    link.closeDevice();
    driver.clearCalls();
    Reply reply{};
    EXPECT_FALSE(protocol.writeRegister(protocol::Register::LogoLed, 1));
    EXPECT_FALSE(protocol.readBlock(9, reply, 8));
    EXPECT_FALSE(protocol.readSettings(reply, 22));
    EXPECT_EQ(status.shown, (std::vector{kWriteFail, kBlockFail, kSettingsFail}));
    EXPECT_TRUE(driver.calls().empty());
    EXPECT_TRUE(messages.warnings().empty());
}

} // namespace
} // namespace telmar::test
