// SPDX-License-Identifier: MIT
#include "backends/NoBoxDriver.h"
#include "cli/BoxSession.h"
#include "cli/Options.h"
#include "cli/SettingNames.h"
#include "cli/Text.h"
#include "cli/Update.h"
#include "tests/support/VirtualClock.h"
#include "updater/FlashUpdate.h"
#include "updater/Safeguards.h"

#include <gtest/gtest.h>
#include <sstream>

namespace telmar::cli {
namespace {

Parsed parse(std::vector<std::string> args) {
    return parseArguments(args);
}

TEST(CliOptions, CommandsAndOptionsParseAnywhereOnTheLine) {
    auto p = parse({"--backend", "sim", "status", "--json", "--watch", "-v"});
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_EQ(p.options->command, Command::Status);
    EXPECT_EQ(p.options->backend, "sim");
    EXPECT_TRUE(p.options->json && p.options->watch && p.options->verbose);

    p = parse({"update", "fpga1", "--image=/tmp/x.bin", "--yes", "--serial", "2031"});
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_EQ(p.options->flash, "fpga1");
    EXPECT_EQ(p.options->image, "/tmp/x.bin");
    EXPECT_TRUE(p.options->yes);
    EXPECT_EQ(parse({"--serial=1111", "list"}).options->serial, "1111");

    p = parse({"set", "hdcp", "1.4"});
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_EQ(p.options->setting, "hdcp");
    EXPECT_EQ(p.options->value, "1.4");
    EXPECT_EQ(parse({"set", "hpd"}).options->command, Command::Hpd);
    EXPECT_EQ(parse({"get", "--help"}).options->helpFor, Command::Get);
    EXPECT_EQ(parse({"--version", "status"}).options->command, Command::Version);
}

TEST(CliOptions, UsageErrorsAreRefusedWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"stat"},
        {"status", "now"},
        {"list", "--watch"},
        {"get", "edid", "audio"},
        {"get", "colour"},
        {"set", "edid"},
        {"set", "edid", "high"},
        {"set", "audio-frame", "1080p"},
        {"set", "logo-led", "on", "off"},
        {"update"},
        {"update", "fpga3"},
        {"--serial", "1111", "update", "fpga2"},
        {"status", "--image", "x"},
        {"--backend"},
        {"--json=yes", "status"},
        {"--colour", "status"},
    };
    for (const auto& args : bad) {
        const Parsed p = parse(args);
        EXPECT_FALSE(p.options) << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(p.error.empty());
    }
}

TEST(CliSettings, EveryWordWrittenReadsBackAsTheSameWord) {
    for (const SettingName& s : settingNames()) {
        for (const std::string_view word : s.values) {
            SCOPED_TRACE(std::string(s.name) + " " + std::string(word));
            const auto write = settingWrite(s.setting, word);
            ASSERT_TRUE(write && write->mirrorIndex);
            protocol::SettingsMirror mirror{};
            mirror[*write->mirrorIndex] = write->value;
            EXPECT_EQ(settingValue(s.setting, panel::controlStatesFor(mirror)), word);
        }
        EXPECT_FALSE(settingWrite(s.setting, "maybe"));
    }
}

TEST(CliText, BoxTextIsUtf8AndCannotDriveTheTerminal) {
    EXPECT_EQ(latin1ToUtf8("Caf\xe9 \xff"), "Caf\xc3\xa9 \xc3\xbf");
    EXPECT_EQ(latin1ForTerminal("a\x1b[2Jb\x9b"
                                "c\x7f\xe9"),
              "a?[2Jb?c?\xc3\xa9");
    EXPECT_EQ(jsonLine("q\"\\\n\x01\xc3\xa9\xff"), "\"q\\\"\\\\\\n\\u0001\xc3\xa9\xef\xbf\xbd\"");
    EXPECT_EQ(trimRight("FLASH update ok           "), "FLASH update ok");
    EXPECT_EQ(trimRight("   "), "");
}

// --watch with an input: a block whose read failed this once keeps its details, a
// failed input status block keeps them all, and a new read replaces them.
TEST(CliStatusDetails, AFailedBlockReadKeepsItsDetails) {
    status::StatusUpdate update;
    update.blocks.read.fill(true);
    for (auto& reply : update.blocks.replies) {
        reply.fill(0x5A);
    }
    update.blocks.replies[0][6] = 0xC0; // input present
    update.blocks.replies[3][2] = 0x87; // a DRM InfoFrame, version 1, 26 bytes
    update.blocks.replies[3][3] = 0x01;
    update.blocks.replies[3][4] = 0x1A;
    Snapshot snapshot;
    applyStatus(update, snapshot);
    ASSERT_TRUE(snapshot.details && snapshot.details->video.inputPresent);
    const status::SignalDetails first = *snapshot.details;
    for (std::size_t failed : {0u, 2u, 3u, 4u}) {
        status::StatusUpdate next = update;
        next.blocks.read[failed] = false;
        next.blocks.replies[failed].fill(0);
        applyStatus(next, snapshot);
        EXPECT_EQ(*snapshot.details, first) << "block " << 11 + failed;
    }
    status::StatusUpdate changed = update;
    changed.blocks.replies[3][6] = 0x03;
    applyStatus(changed, snapshot);
    EXPECT_NE(snapshot.details->hdr, first.hdr);
}

TEST(CliStatusLines, AnUpdateChangesTheLinesAsTheWindowChangesItsLabels) {
    using Video = status::StatusUpdate::Video;
    const status::VideoLines video{"Input : 1920x1080p60", "Encryption: none",
                                   "Color: RGB 0-255",     "Source: no info received",
                                   "HDR: Not Active",      "Input Deep Color: 8-bit"};
    StatusLines lines;
    lines.apply({Video::Set, video, "Audio: bitstream", {}});
    EXPECT_TRUE(lines.inputPresent);
    EXPECT_EQ(lines.text[StatusLines::Source], video.source);
    EXPECT_EQ(lines.text[StatusLines::Audio], "Audio: bitstream");

    // The HDR block read failed: the video lines stay, the audio line is new.
    lines.apply({Video::Keep, status::VideoLines{}, "Audio: no info", {}});
    EXPECT_EQ(lines.text[StatusLines::Input], video.input);
    EXPECT_EQ(lines.text[StatusLines::DeepColor], video.deepColor);
    EXPECT_EQ(lines.text[StatusLines::Audio], "Audio: no info");

    lines.apply({Video::BlankAll, video, "Audio: bitstream", {}});
    EXPECT_FALSE(lines.inputPresent);
    EXPECT_EQ(lines, StatusLines{});
}

// The procedure's lines for a whole write, as FlashUpdate draws them.
void drawWrite(TerminalUi& ui, std::uint32_t blocks) {
    ui.drawStatusLine(updater::kUpdatingLine, 10);
    for (std::uint32_t b = 0; b < blocks; ++b) {
        ui.drawStatusLine(updater::progressLine(b, blocks), 10);
    }
    ui.drawStatusLine(updater::kUpdateOkLine, 10);
}

TEST(CliProgress, EachStyleCountsEveryBlockToAHundredPercent) {
    for (const std::uint32_t blocks : {50u, 248u}) {
        SCOPED_TRACE(blocks);
        link::VirtualClock clock;
        std::ostringstream plain, bar, json, err;
        TerminalUi plainUi(TerminalUi::Style::Plain, blocks, clock, plain, err);
        TerminalUi barUi(TerminalUi::Style::Bar, blocks, clock, bar, err);
        TerminalUi jsonUi(TerminalUi::Style::Json, blocks, clock, json, err);
        drawWrite(plainUi, blocks);
        drawWrite(barUi, blocks);
        drawWrite(jsonUi, blocks);
        EXPECT_EQ(plainUi.blocksDone(), blocks);

        // Plain: the two texts and one line per 10 %.
        std::vector<std::string> lines;
        std::istringstream in(plain.str());
        for (std::string l; std::getline(in, l);) {
            lines.push_back(l);
        }
        ASSERT_EQ(lines.size(), 12u);
        EXPECT_EQ(lines[1].rfind("Flash write: 10 % (", 0), 0u) << lines[1];
        EXPECT_EQ(lines[10].rfind("Flash write: 100 % (" + std::to_string(blocks) + " of ", 0), 0u);
        EXPECT_EQ(lines[11], "FLASH update ok");

        EXPECT_NE(bar.str().find("\r[" + std::string(30, '#') + "] 100 %"), std::string::npos);
        EXPECT_NE(bar.str().find("\nFLASH update ok\n"), std::string::npos);

        std::size_t events = 0;
        for (std::size_t at = 0;
             (at = json.str().find("\"event\":\"progress\"", at)) != std::string::npos; ++at) {
            ++events;
        }
        EXPECT_EQ(events, blocks);
        EXPECT_EQ(err.str(), "");
    }
}

TEST(CliProgress, TheEstimateCountsFromTheFirstBlock) {
    EXPECT_EQ(progressBar(0, 50, 0, std::nullopt),
              "[------------------------------]   0 %  0:00 elapsed");
    EXPECT_EQ(progressBar(25, 50, 4000, 4000),
              "[###############---------------]  50 %  0:04 elapsed, about 0:04 left");

    // The pauses before the first block (1.1 s) must not inflate the estimate: each
    // block here takes 100 ms.
    link::VirtualClock clock;
    std::ostringstream out, err;
    TerminalUi ui(TerminalUi::Style::Json, 50, clock, out, err);
    ui.drawStatusLine(updater::kUpdatingLine, 10);
    clock.advance(1100);
    for (std::uint32_t b = 0; b < 10; ++b) {
        clock.advance(100);
        ui.drawStatusLine(updater::progressLine(b, 50), 10);
    }
    EXPECT_NE(out.str().find("\"block\":1,\"blocks\":50,\"percent\":2.0,\"elapsed_ms\":1200,"
                             "\"remaining_ms\":null}"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("\"block\":10,\"blocks\":50,\"percent\":20.0,\"elapsed_ms\":2100,"
                             "\"remaining_ms\":4000}"),
              std::string::npos)
        << out.str();
}

// The updater's boxes as the terminal prints them: terminal wording, no window title
// as a prefix, nothing for the fatal path's text-less box.
TEST(CliBoxes, TheUpdatersBoxesReadAsTerminalLines) {
    updater::Variant placeholder = updater::fpga2::variant();
    placeholder.placeholderImage = true;
    link::VirtualClock clock;
    std::ostringstream out, err;
    TerminalUi ui(TerminalUi::Style::Plain, 50, clock, out, err);
    ui.showWarning(updater::kFatalBoxText, updater::kCriticalCaption);
    ui.showWarning(updater::kBoxInUseText, updater::kSafetyCaption);
    ui.showWarning(updater::refusalBeforeFirstFrame(placeholder, backends::NoBoxDriver{}),
                   updater::kSafetyCaption);
    EXPECT_EQ(err.str(), "telmarctl: The TELMAR box was found but could not be opened.\nAnother "
                         "program is probably using it, such as the control panel (LUMORA_GUI)."
                         "\nClose that program, then run telmarctl update again.\ntelmarctl: This "
                         "program carries a placeholder image, not TELMAR firmware.\nIt writes "
                         "only to a simulated box and has sent nothing: the placeholder would "
                         "leave a real box unusable.\nTo update a real box, give the real image "
                         "file with --image FILE.\n");
}

} // namespace
} // namespace telmar::cli
