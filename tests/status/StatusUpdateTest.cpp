// SPDX-License-Identifier: MIT
#include "status/StatusUpdate.h"

#include "tests/protocol/ProtocolFixture.h"

#include <algorithm>
#include <map>
#include <optional>
#include <ostream>

namespace telmar::test {
namespace {

using Video = status::StatusUpdate::Video;

Bytes block(std::size_t size, std::map<std::size_t, std::uint8_t> bytes) {
    Bytes b(size, 0);
    b[0] = 0xE0;
    for (const auto& [offset, value] : bytes) {
        b[offset] = value;
    }
    return b;
}

// A box with a present 1080p60 input and 48 kHz stereo PCM.
std::map<std::uint8_t, std::optional<Bytes>> presentInput() {
    return {{11, block(7, {{4, 0x02}, {6, 0xC0}})},
            {12, block(17, {{5, 0x80}, {7, 16}})},
            {13, block(33, {})},
            {14, block(33, {{2, 0x87}, {3, 1}, {4, 26}, {6, 2}})},
            {15, block(16, {{4, 2}, {12, 1}})}};
}

struct UpdateCase {
    const char* name;
    std::map<std::uint8_t, std::optional<Bytes>> changes; // nullopt: the box stays silent
    Video video;
    std::vector<std::uint8_t> blocksRead;
    std::string inputLine;
    std::string audio;
    std::size_t failedReads;
};

void PrintTo(const UpdateCase& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<std::uint8_t> kAllFive{11, 12, 13, 14, 15};
const std::vector<std::uint8_t> kFirstFour{11, 12, 13, 14};
const std::string k1080 = "Input : 1920x1080p60";
const std::string kPcm = "Audio: L-PCM 48kHz 2.0ch 16bit";

const UpdateCase kCases[] = {
    {"Present", {}, Video::Set, kAllFive, k1080, kPcm, 0},
    {"PresenceBit7Only", {{11, block(7, {{6, 0x80}})}}, Video::BlankAll, kFirstFour, "", "", 0},
    {"PresenceBit6Only", {{11, block(7, {{6, 0x40}})}}, Video::BlankAll, kFirstFour, "", "", 0},
    {"InputStatusSilent", {{11, std::nullopt}}, Video::BlankAll, kFirstFour, "", "", 1},
    {"HdrSilent", {{14, std::nullopt}}, Video::Keep, kAllFive, "", kPcm, 1},
    {"HdrWrongEcho", {{14, Bytes(33, 0xE1)}}, Video::Keep, kAllFive, "", kPcm, 1},
    {"AudioSilent", {{15, std::nullopt}}, Video::Set, kAllFive, k1080, "Audio: no info", 1},
    // A failed AVI read reads as zeros, not as what block 11 left behind.
    {"AviSilent",
     {{11, block(64, {{4, 0x62}, {5, 0x80}, {6, 0xC0}, {7, 16}})}, {12, std::nullopt}},
     Video::Set,
     kAllFive,
     "Input : ",
     kPcm,
     1},
};

class StatusUpdateTest : public ProtocolFixture,
                         public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(StatusUpdateTest, ReadsTheBlocksAndComposesTheUpdate) {
    const UpdateCase& c = GetParam();
    auto box = presentInput();
    for (const auto& [number, reply] : c.changes) {
        box[number] = reply;
    }
    std::vector<Bytes> expectedFrames;
    for (std::uint8_t number : c.blocksRead) {
        const std::uint8_t count = number == 11 ? 7 : number == 12 ? 17 : number == 15 ? 16 : 33;
        expectedFrames.push_back({0x11, count, 0xE0, number});
    }
    driver.setResponder([&box](std::span<const std::uint8_t> frame) {
        const auto& reply = box.at(frame[3]);
        return reply ? std::optional(ScriptedReply{*reply}) : std::nullopt;
    });

    const status::StatusUpdate update = status::readStatusUpdate(protocol);

    EXPECT_EQ(driver.writtenFrames(), expectedFrames);
    EXPECT_EQ(update.video, c.video);
    EXPECT_EQ(update.lines.input, c.inputLine);
    EXPECT_EQ(update.audio, c.audio);
    if (c.video == Video::Set) {
        EXPECT_EQ(update.lines.hdr, "HDR:  SMPTE ST 2084");
        EXPECT_EQ(update.lines.color.ends_with("BT.709"), c.inputLine == k1080);
    }
    EXPECT_EQ(status.shown, std::vector<ShownStatus>(c.failedReads, {"...", 2000}));
    // The details get the blocks as read: a flag per successful read, the bytes kept.
    const auto& read = update.blocks.read;
    EXPECT_EQ(std::count(read.begin(), read.end(), true), c.blocksRead.size() - c.failedReads);
    EXPECT_EQ(update.blocks.replies[0][6], read[0] ? box.at(11)->at(6) : 0);
}

INSTANTIATE_TEST_SUITE_P(Updates, StatusUpdateTest, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace telmar::test
