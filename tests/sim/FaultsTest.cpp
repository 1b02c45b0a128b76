// SPDX-License-Identifier: MIT
#include "sim/Box.h"

#include <gtest/gtest.h>

namespace telmar::sim {
namespace {

const Bytes kReadVersion = {0x11, 0x08, 0xE0, 0x09};
const Bytes kVersionReply = {0xE0, 0x09, 2, 1, 0, 4, 1, 8};
const Bytes kEnterFpga2 = {0x10, 0x05, 0x78, 0x0F, 0x40};
const Bytes kIndex0 = {0x10, 0x05, 0x50, 0x01, 0x00};
const Bytes kExit = {0x10, 0x05, 0x50, 0x02, 0x00};

Bytes packet(std::uint8_t fill) {
    Bytes f = {0x10, 0x15, 0x50, 0x41, 0x10};
    f.insert(f.end(), 16, fill);
    return f;
}

void arm(Box& box, std::vector<std::string> args) {
    ASSERT_EQ(applyFault(box.faults(), args), "");
}

std::vector<std::optional<Bytes>> sendAll(Box& box, const std::vector<Bytes>& frames) {
    std::vector<std::optional<Bytes>> replies;
    for (const auto& f : frames) {
        replies.push_back(box.handleFrame(f, 0).reply);
    }
    return replies;
}

TEST(FrameFaults, EachFaultChangesExactlyTheRepliesItNames) {
    using R = std::optional<Bytes>;
    const R none;
    const R ok = kVersionReply;
    struct Case {
        std::vector<std::string> fault;
        std::vector<R> replies; // to four version reads in a row
    };
    const std::vector<Case> cases = {
        {{"drop", "2"}, {none, none, ok, ok}},
        {{"drop", "always"}, {none, none, none, none}},
        {{"truncate", "1"}, {Bytes{0xE0}, ok, ok, ok}},
        {{"truncate", "0", "2"}, {none, none, ok, ok}},
        {{"byte0", "0xE1"}, {Bytes{0xE1, 0x09, 2, 1, 0, 4, 1, 8}, ok, ok, ok}},
        {{"silence-after", "2"}, {ok, ok, none, none}},
        {{"silence-after", "0"}, {none, none, none, none}},
    };
    for (const auto& c : cases) {
        Box box;
        arm(box, c.fault);
        EXPECT_EQ(sendAll(box, {kReadVersion, kReadVersion, kReadVersion, kReadVersion}), c.replies)
            << c.fault[0];
    }
}

TEST(FrameFaults, ClearEndsEveryFault) {
    Box box;
    arm(box, {"drop", "always"});
    arm(box, {"silence-after", "0"});
    arm(box, {"clear"});
    EXPECT_EQ(box.handleFrame(kReadVersion, 0).reply, kVersionReply);
    EXPECT_EQ(box.faults().describe(), "none");
}

TEST(FrameFaults, UnplugComesWithTheFrameAfterTheKth) {
    Box box;
    arm(box, {"unplug-after", "2"});
    const auto first = box.handleFrame(kReadVersion, 0);
    const auto second = box.handleFrame(kReadVersion, 0);
    const auto third = box.handleFrame(kReadVersion, 0);
    EXPECT_FALSE(first.unplug);
    EXPECT_FALSE(second.unplug);
    EXPECT_EQ(second.reply, kVersionReply);
    EXPECT_TRUE(third.unplug);
    EXPECT_FALSE(third.reply.has_value());
    EXPECT_FALSE(box.faults().unplugAfter.has_value());
}

TEST(FrameFaults, RefusedProgrammingFramesChangeNothing) {
    Box box;
    arm(box, {"reject", "block-index", "1"});
    arm(box, {"reject-packet", "3"});
    const auto replies =
        sendAll(box, {kEnterFpga2, kIndex0, kIndex0, packet(1), packet(2), packet(3), packet(4)});
    const std::vector<std::optional<Bytes>> expected = {
        Bytes{0x78, 0x01}, Bytes{0x50, 0x00}, Bytes{0x50, 0x01}, Bytes{0x50, 0x01},
        Bytes{0x50, 0x01}, Bytes{0x50, 0x00}, Bytes{0x50, 0x01}};
    EXPECT_EQ(replies, expected);
    // The refused third packet did not land; the fourth took its place.
    ASSERT_EQ(box.writeLog().size(), 3u);
    EXPECT_EQ(box.writeLog()[2].packet, 2);
    EXPECT_EQ(box.writeLog()[2].data[0], 4);
    EXPECT_FALSE(box.misuse().any());
}

TEST(FrameFaults, RefusedExitKeepsTheBoxInProgrammingMode) {
    Box box;
    arm(box, {"reject", "exit-isp", "always"});
    const auto replies = sendAll(box, {kEnterFpga2, kExit, kExit});
    EXPECT_EQ(replies[1], (Bytes{0x50, 0x00}));
    EXPECT_EQ(replies[2], (Bytes{0x50, 0x00}));
    EXPECT_TRUE(box.inIsp());
}

TEST(FaultCommands, BadArgumentsAreRefusedAndLeaveTheFaultsAlone) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"explode"},
        {"drop", "x"},
        {"drop", "1", "2"},
        {"drop", "-1"},
        {"truncate"},
        {"truncate", "65"},
        {"byte0", "0x100"},
        {"reject", "register"},
        {"reject", "packet", "twice"},
        {"reject-packet", "0"},
        {"silence-after"},
        {"unplug-after", "1", "2"},
        {"clear", "now"},
    };
    for (const auto& args : bad) {
        Faults faults;
        faults.drop = 5;
        EXPECT_NE(applyFault(faults, args), "") << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(faults.describe(), "drop=5");
    }
}

TEST(FaultCommands, DriverFaultsDefaultToOnceAndTakeAlways) {
    Faults faults;
    ASSERT_EQ(applyFault(faults, std::vector<std::string>{"queue"}), "");
    ASSERT_EQ(applyFault(faults, std::vector<std::string>{"open", "always"}), "");
    ASSERT_EQ(applyFault(faults, std::vector<std::string>{"string", "3"}), "");
    EXPECT_EQ(faults.queue, 1);
    EXPECT_EQ(faults.open, kAlways);
    EXPECT_EQ(faults.string, 3);
    EXPECT_EQ(faults.describe(), "string=3 open=always queue=1");
    FaultCount n = 2;
    EXPECT_TRUE(fire(n));
    EXPECT_TRUE(fire(n));
    EXPECT_FALSE(fire(n));
}

} // namespace
} // namespace telmar::sim
