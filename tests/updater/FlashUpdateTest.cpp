// SPDX-License-Identifier: MIT
#include "tests/support/VirtualClock.h"
#include "tests/updater/FlashFixture.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace telmar::test {
namespace {

using updater::FlashUpdate;
using updater::Variant;
using Outcome = FlashUpdate::Outcome;

const std::string kPreparing = padded("preparing...", 26);
const std::string kUpdating = padded("Updating Firmware", 21);
const std::string kPowerWarning = padded("Do NOT turn power OFF", 17);
const std::string kUpdateOk = padded("FLASH update ok", 11);
const std::string kPowerCycle = padded("You must power cycle your unit", 12);
const std::string kChipWriteError = padded("Chip Write error", 19);
const std::string kExitIspError = padded("ERROR exit ISP mode", 16);
constexpr std::string_view kCritical = "Critical Error!!! ";
constexpr std::string_view kExitIspBox = "ERROR exit ISP mode !";

std::string progress(std::string_view value) {
    return padded("Flash write:  " + std::string(value) + " %", 33);
}

// Every frame of a complete run, in order, built from the frame layouts alone.
std::vector<Bytes> completeRun(const Variant& v, std::uint8_t enterByte) {
    std::vector<Bytes> frames{{0x10, 0x05, enterByte, 0x0F, 0x40}};
    for (std::uint32_t b = 0; b < v.blockCount; ++b) {
        frames.push_back({0x10, 0x05, 0x50, 0x01, static_cast<std::uint8_t>(b)});
        for (std::uint32_t p = 0; p < 32; ++p) {
            Bytes packet{0x10, 0x15, 0x50, 0x41, 0x10};
            const auto* data = v.image.data() + b * 512 + p * 16;
            packet.insert(packet.end(), data, data + 16);
            frames.push_back(packet);
        }
    }
    frames.push_back({0x10, 0x05, 0x50, 0x02, 0x00});
    frames.push_back({0x11, 0x01, 0xDC});
    return frames;
}

struct BuildCase {
    const char* name;
    const Variant& (*variant)();
    std::uint8_t enterByte;
    std::size_t frameCount;
    std::uint64_t pausesMs;
    const char* secondProgress;
    const char* lastProgress;
};

const BuildCase kBuilds[] = {
    {"FPGA1", updater::fpga1::variant, 0xC8, 8187, 23700, "0.4", "99.6"},
    {"FPGA2", updater::fpga2::variant, 0x78, 1653, 13800, "2.0", "98.0"},
};

class CompleteRun : public testing::TestWithParam<BuildCase> {};

TEST_P(CompleteRun, SendsEveryFrameInOrderWithItsPausesAndLines) {
    const BuildCase& c = GetParam();
    const Variant& v = c.variant();
    FlashRun run(v);

    EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::Completed);

    const auto frames = run.driver.writtenFrames();
    ASSERT_EQ(frames.size(), c.frameCount);
    EXPECT_TRUE(frames == completeRun(v, c.enterByte)) << "frames differ from a front-to-back run";
    const Bytes& lastPacket = frames[frames.size() - 3];
    EXPECT_TRUE(std::equal(lastPacket.begin() + 5, lastPacket.end(), v.image.end() - 16));
    EXPECT_EQ(run.clock.sleptMs(), c.pausesMs);

    const auto lines = run.ui.of(UiEvent::Line);
    ASSERT_EQ(lines.size(), 5 + v.blockCount);
    EXPECT_TRUE(lines[0].isLine(kPreparing, 10));
    EXPECT_TRUE(lines[1].isLine(kUpdating, 10));
    EXPECT_TRUE(lines[2].isLine(kPowerWarning, 30));
    EXPECT_TRUE(lines[3].isLine(progress("0.0"), 10)) << '"' << lines[3].text << '"';
    EXPECT_TRUE(lines[4].isLine(progress(c.secondProgress), 10)) << '"' << lines[4].text << '"';
    const auto& last = lines[2 + v.blockCount];
    EXPECT_TRUE(last.isLine(progress(c.lastProgress), 10)) << '"' << last.text << '"';
    EXPECT_TRUE(lines[3 + v.blockCount].isLine(kUpdateOk, 10));
    EXPECT_TRUE(lines[4 + v.blockCount].isLine(kPowerCycle, 30));

    // The first frame goes out only after the 10 s pause; each block waits 50 ms
    // on top of its 33 exchanges (1 ms of virtual queue polling each).
    EXPECT_EQ(lines[1].atMs, 10000u);
    EXPECT_EQ(lines[4].atMs - lines[3].atMs, 50u + 33u);
    // A progress line is drawn once the block's last packet has been answered.
    EXPECT_EQ(lines[3].framesBefore, 1u + 33u);

    EXPECT_TRUE(run.ui.of(UiEvent::Warning).empty());
    EXPECT_TRUE(run.ui.of(UiEvent::Exit).empty());
    EXPECT_EQ(run.driver.openHandles(), 0);
    EXPECT_EQ(run.flash.deviceHandle(), usb::kNoHandle);
    EXPECT_FALSE(lines[0].writing);
    EXPECT_TRUE(lines[3].writing);
    EXPECT_FALSE(run.flash.writing());
}

INSTANTIATE_TEST_SUITE_P(Builds, CompleteRun, testing::ValuesIn(kBuilds),
                         [](const testing::TestParamInfo<BuildCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(FlashProgress, Fpga2StepsByTwoAndFpga1ByAboutFourTenths) {
    FlashRun run(updater::fpga2::variant());
    ASSERT_EQ(run.flash.FlashUpdateThread(), Outcome::Completed);
    const auto texts = run.lineTexts();
    for (std::uint32_t b = 0; b < 50; ++b) {
        EXPECT_EQ(texts[3 + b], progress(std::to_string(2 * b) + ".0"));
    }
    const std::pair<std::uint32_t, const char*> fpga1[] = {
        {0, "0.0"},    {1, "0.4"},    {2, "0.8"},   {124, "50.0"},
        {245, "98.8"}, {246, "99.2"}, {247, "99.6"}};
    for (const auto& [block, value] : fpga1) {
        EXPECT_EQ(updater::progressLine(block, 248), progress(value)) << block;
    }
}

TEST(FlashNoBox, EndsQuietlyAfterThePauseAndASecondRunStartsOver) {
    FlashRun run(updater::fpga2::variant(), /*boxAttached=*/false);

    EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::NoBox);

    const auto events = run.ui.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(events[0].isLine(kPreparing, 10));
    EXPECT_TRUE(events[1].isWarning("Usb device not connected!", " "));
    EXPECT_GE(events[1].atMs, 10000u);
    EXPECT_TRUE(run.driver.writtenFrames().empty());
    EXPECT_EQ(run.flash.deviceHandle(), usb::kNoHandle);

    run.driver.addDevice("2031");
    EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::Completed);
    const auto texts = run.lineTexts();
    EXPECT_EQ(texts[1], kPreparing);
    EXPECT_EQ(texts[2], kUpdating);
    EXPECT_EQ(run.driver.writtenFrames().size(), 1653u);
}

// Where the backend knows why no box can be reached, the user is told that too.
TEST(FlashNoBox, SaysWhatTheBackendKnows) {
    FlashRun run(updater::fpga2::variant(), /*boxAttached=*/false);
    run.driver.setReachProblem("no simulator answers");
    EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::NoBox);
    EXPECT_TRUE(run.ui.events().back().isWarning("no simulator answers", updater::kSafetyCaption));
}

TEST(FlashBlockIndex, RefusedIndexWarnsOncePerBlockAndTheWriteGoesOn) {
    FlashRun run(updater::fpga2::variant());
    run.box = [](Frame kind, std::span<const std::uint8_t> f, std::uint32_t i) {
        if (kind == Frame::SetBlockIndex && (f[4] == 3 || f[4] == 7)) {
            return refusing();
        }
        if (kind == Frame::SetBlockIndex && f[4] == 9) {
            return std::optional<ScriptedReply>{}; // no answer at all
        }
        return acceptingBox(kind, f, i);
    };

    EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::Completed);

    const auto warnings = run.ui.of(UiEvent::Warning);
    ASSERT_EQ(warnings.size(), 3u);
    // Frames before block b's index: EnterIsp + 33 per earlier block + the index itself.
    const std::uint32_t blocks[] = {3, 7, 9};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_TRUE(warnings[k].isWarning("ERROR setting Block Index mode !", kCritical));
        EXPECT_EQ(warnings[k].framesBefore, 1 + 33 * blocks[k] + 1);
    }
    const auto kinds = run.frameKinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Frame::Packet), 1600);
    EXPECT_TRUE(run.ui.of(UiEvent::Exit).empty());
}

TEST(FlashEnterIsp, OutcomeIsIgnored) {
    const std::pair<const char*, std::optional<ScriptedReply>> answers[] = {
        {"refused", refusing()}, {"silent", std::nullopt}};
    for (const auto& [name, answer] : answers) {
        SCOPED_TRACE(name);
        FlashRun run(updater::fpga2::variant());
        run.box = [&](Frame kind, std::span<const std::uint8_t> f, std::uint32_t i) {
            return kind == Frame::EnterIsp ? answer : acceptingBox(kind, f, i);
        };
        EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::Completed);
        EXPECT_TRUE(run.ui.of(UiEvent::Warning).empty());
        EXPECT_EQ(run.driver.writtenFrames().size(), 1653u);
    }
}

// The fatal path's tail: the box " ", one more ExitIsp, close, exit code 1 - and
// nothing after the exit.
void expectFatalEnd(const FlashRun& run, const std::vector<UiEvent>& tail) {
    const auto events = run.ui.events();
    ASSERT_GE(events.size(), tail.size());
    std::vector<UiEvent> last(events.end() - static_cast<std::ptrdiff_t>(tail.size()),
                              events.end());
    for (std::size_t k = 0; k < tail.size(); ++k) {
        EXPECT_EQ(last[k].kind, tail[k].kind) << k;
        EXPECT_EQ(last[k].text, tail[k].text) << k;
        EXPECT_EQ(last[k].caption, tail[k].caption) << k;
        EXPECT_EQ(last[k].y, tail[k].y) << k;
        EXPECT_EQ(last[k].exitCode, tail[k].exitCode) << k;
    }
    const auto frames = run.driver.writtenFrames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(kindOf(frames.back()), Frame::ExitIsp);
    EXPECT_EQ(events.back().framesBefore, frames.size()) << "a frame was sent after the exit";
    EXPECT_EQ(run.driver.openHandles(), 0);
    EXPECT_EQ(run.flash.deviceHandle(), usb::kNoHandle);
}

UiEvent line(std::string text) {
    return {.kind = UiEvent::Line, .text = std::move(text), .y = 10};
}
UiEvent box(std::string_view text, std::string_view caption = kCritical) {
    return {.kind = UiEvent::Warning, .text = std::string(text), .caption = std::string(caption)};
}
UiEvent exitWith(int code) {
    return {.kind = UiEvent::Exit, .exitCode = code};
}
// The way back, after every fatal sequence and before the process ends.
UiEvent recovery() {
    return box(updater::kRecoveryText, updater::kSafetyCaption);
}

TEST(FlashPacket, RefusedPacketStopsTheWriteAndEndsTheProcess) {
    struct Case {
        const char* name;
        std::uint32_t block;
        std::uint32_t packet;
    };
    const Case cases[] = {{"first", 0, 0}, {"middle", 20, 17}, {"very last", 49, 31}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlashRun run(updater::fpga2::variant());
        // Frame index of the packet: EnterIsp, then 33 per block, the index first.
        const std::uint32_t refused = 1 + 33 * c.block + 1 + c.packet;
        run.box = [&](Frame kind, std::span<const std::uint8_t> f, std::uint32_t i) {
            return i == refused ? refusing() : acceptingBox(kind, f, i);
        };

        EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::Aborted);

        const auto frames = run.driver.writtenFrames();
        ASSERT_EQ(frames.size(), refused + 2u) << "packets went on after the refused one";
        EXPECT_EQ(kindOf(frames[refused]), Frame::Packet);
        expectFatalEnd(
            run, {box(kExitIspBox), line(kChipWriteError), box(" "), recovery(), exitWith(1)});
        EXPECT_EQ(run.lineTexts().back(), kChipWriteError);
    }
}

TEST(FlashPacket, OneByteReplyDoesNotCountAsAccepted) {
    // Reply byte 1 never arrived; it must not be read as a stale 01.
    FlashRun run(updater::fpga2::variant());
    run.box = [](Frame kind, std::span<const std::uint8_t> f, std::uint32_t i) {
        return i == 5 ? std::optional<ScriptedReply>{ScriptedReply{{0x50}}}
                      : acceptingBox(kind, f, i);
    };
    EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::Aborted);
    EXPECT_EQ(run.driver.writtenFrames().size(), 7u);
    EXPECT_EQ(run.ui.of(UiEvent::Exit).size(), 1u);
}

TEST(FlashPacket, BoxThatStopsAnsweringMidWrite) {
    FlashRun run(updater::fpga2::variant());
    constexpr std::uint32_t kSilentFrom = 300;
    run.box = [](Frame kind, std::span<const std::uint8_t> f, std::uint32_t i) {
        return i >= kSilentFrom ? std::nullopt : acceptingBox(kind, f, i);
    };

    EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::Aborted);

    expectFatalEnd(run, {box(kExitIspBox), line(kChipWriteError), box(" "), box(kExitIspBox),
                         recovery(), exitWith(1)});
    const auto warnings = run.ui.of(UiEvent::Warning);
    ASSERT_EQ(warnings.size(), 4u);
    // Each silent exchange gives up after 2000 ms; the fatal path pauses 100 ms first.
    EXPECT_EQ(warnings[2].atMs - warnings[1].atMs, 100u + 2000u);
    EXPECT_EQ(run.driver.writtenFrames().size(), kSilentFrom + 2u);
}

TEST(FlashExitIsp, RefusedAfterCompleteWriteEndsWithCodeTwo) {
    FlashRun run(updater::fpga2::variant());
    run.box = [](Frame kind, std::span<const std::uint8_t> f, std::uint32_t i) {
        return kind == Frame::ExitIsp ? refusing() : acceptingBox(kind, f, i);
    };

    EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::Aborted);

    expectFatalEnd(run, {{.kind = UiEvent::Line, .text = kUpdateOk, .y = 10},
                         {.kind = UiEvent::Line, .text = kPowerCycle, .y = 30},
                         box(kExitIspBox),
                         line(kExitIspError),
                         box(" "),
                         box(kExitIspBox),
                         recovery(),
                         exitWith(1)});
    const auto kinds = run.frameKinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Frame::ExitIsp), 2);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Frame::ResetBox), 0);
}

TEST(FlashReset, FailingResetWarnsAndEndsNormally) {
    FlashRun run(updater::fpga2::variant());
    run.box = [](Frame kind, std::span<const std::uint8_t> f, std::uint32_t i) {
        return kind == Frame::ResetBox ? std::nullopt : acceptingBox(kind, f, i);
    };

    EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::Completed);

    const auto warnings = run.ui.of(UiEvent::Warning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].isWarning("Reset TELMAR Error !", kCritical));
    EXPECT_TRUE(run.ui.of(UiEvent::Exit).empty());
    EXPECT_EQ(run.driver.openHandles(), 0);
    EXPECT_EQ(run.lineTexts().back(), kPowerCycle);
}

TEST(FlashAbort, EachCodeDrawsItsPaddedTextAndEndsWithOne) {
    const std::pair<std::uint8_t, std::string> codes[] = {
        {1, padded("ERROR setting ISP mode", 13)},
        {2, padded("ERROR exit ISP mode", 16)},
        {3, padded("Boot error", 25)},
        {4, padded("Flash Read error", 19)},
        {5, padded("Select Flash error", 17)},
        {6, padded("Chip Erase error", 19)},
        {7, padded("Chip Write error", 19)},
        {8, padded("Chip Erase error", 21)},
        {9, padded("SPI Open error", 23)},
        {10, padded("SPI Close error", 22)},
    };
    for (const auto& [code, text] : codes) {
        SCOPED_TRACE(int{code});
        EXPECT_EQ(text.size(), code <= 7 ? 35u : 37u);
        FlashRun run(updater::fpga2::variant());
        run.flash.AbortUpdate(code);
        // Nothing is open, so the ExitIsp attempt fails without reaching the driver.
        const auto events = run.ui.events();
        ASSERT_EQ(events.size(), 5u);
        EXPECT_TRUE(events[0].isLine(text, 10));
        EXPECT_TRUE(events[1].isWarning(" ", kCritical));
        EXPECT_TRUE(events[2].isWarning(kExitIspBox, kCritical));
        // The fatal texts say what broke; the last box says what to do now.
        EXPECT_TRUE(events[3].isWarning(updater::kRecoveryText, updater::kSafetyCaption));
        EXPECT_EQ(events[4].kind, UiEvent::Exit);
        EXPECT_EQ(events[4].exitCode, 1);
        EXPECT_EQ(run.clock.sleptMs(), 100u);
    }
    for (const std::uint8_t code : std::initializer_list<std::uint8_t>{0, 11, 255}) {
        FlashRun run(updater::fpga2::variant());
        run.flash.AbortUpdate(code);
        EXPECT_TRUE(run.ui.events().empty()) << int{code};
        EXPECT_TRUE(run.driver.calls().empty()) << int{code};
    }
}

TEST(FlashVariantCheck, ImageThatDoesNotFillItsBlocksIsRejected) {
    const Variant& good = updater::fpga2::variant();
    link::VirtualClock clock;
    ScriptedDriver driver(clock);
    std::atomic<std::uint32_t> frames{0};
    RecordingUi ui(clock, frames);
    Variant shortImage = good;
    shortImage.image = good.image.first(good.image.size() - 16);
    EXPECT_THROW(FlashUpdate(shortImage, driver, clock, ui), std::invalid_argument);
    const std::vector<std::uint8_t> big(257 * 512);
    Variant tooManyBlocks = good;
    tooManyBlocks.blockCount = 257;
    tooManyBlocks.image = big;
    EXPECT_THROW(FlashUpdate(tooManyBlocks, driver, clock, ui), std::invalid_argument);
}

} // namespace
} // namespace telmar::test
