// SPDX-License-Identifier: MIT
#include "cli/Update.h"

#include "base/File.h"
#include "cli/SafeguardedRun.h"
#include "cli/Text.h"
#include "updater/Crc32.h"
#include "updater/FlashUpdate.h"
#include "updater/Frames.h"
#include "updater/Safeguards.h"
#include "updater/Texts.h"
#include "updater/Variant.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <span>
#include <string>
#include <vector>

namespace telmar::cli {

namespace {

std::string minutes(std::uint32_t ms) {
    const std::uint32_t s = ms / 1000;
    char text[16];
    std::snprintf(text, sizeof text, "%u:%02u", s / 60, s % 60);
    return text;
}

double percent(std::uint32_t done, std::uint32_t blocks) {
    // Tenths, as the JSON events give them.
    return std::round(1000.0 * done / blocks) / 10;
}

// A box's text as a terminal user reads it: what it says about the window's menu
// says what to type instead.
std::string terminalWording(std::string_view boxText) {
    std::string text(boxText);
    constexpr std::string_view kMenuAgain = "choose Update Firmware again";
    if (const auto at = text.find(kMenuAgain); at != std::string::npos) {
        text.replace(at, kMenuAgain.size(), "run telmarctl update again");
    }
    // The placeholder refusal tells a window user how to build a real updater; here a
    // real image file is one option away.
    constexpr std::string_view kBuildReal = "build the updater with the real image: ";
    if (const auto at = text.find(kBuildReal); at != std::string::npos) {
        text.replace(at, std::string::npos, "give the real image file with --image FILE.");
    }
    return text;
}

} // namespace

std::string progressBar(std::uint32_t done, std::uint32_t blocks, std::uint32_t elapsedMs,
                        std::optional<std::uint32_t> leftMs) {
    constexpr std::uint32_t kWidth = 30;
    const std::uint32_t filled = blocks == 0 ? 0 : done * kWidth / blocks;
    char text[128];
    std::snprintf(text, sizeof text, "[%s%s] %3u %%  %s elapsed", std::string(filled, '#').c_str(),
                  std::string(kWidth - filled, '-').c_str(), blocks == 0 ? 0u : done * 100 / blocks,
                  minutes(elapsedMs).c_str());
    std::string line = text;
    if (leftMs && done < blocks) {
        line += ", about " + minutes(*leftMs) + " left";
    }
    return line;
}

TerminalUi::TerminalUi(Style style, std::uint32_t blocks, link::Clock& clock, std::ostream& out,
                       std::ostream& err)
    : style_(style), blocks_(blocks), clock_(clock), out_(out), err_(err) {
    startMs_ = clock_.tickMs();
}

void TerminalUi::closeBar() {
    if (barOpen_) {
        out_ << "\n" << std::flush;
        barOpen_ = false;
    }
}

void TerminalUi::finishBar() {
    closeBar();
    warnings_.end();
}

void TerminalUi::drawStatusLine(std::string_view text, int /*y*/) {
    warnings_.end();
    // The procedure draws its progress line after each block; we show blocks done.
    if (done_ < blocks_ && text == updater::progressLine(done_, blocks_)) {
        progress();
        return;
    }
    if (text == updater::kUpdatingLine) {
        startMs_ = clock_.tickMs(); // the box is open: the write's clock starts
    }
    if (style_ == Style::Json) {
        out_ << jsonLine({{"event", "line"}, {"text", latin1ToUtf8(trimRight(text))}}) << std::endl;
        return;
    }
    finishBar();
    out_ << latin1ForTerminal(trimRight(text)) << std::endl;
}

std::optional<std::uint32_t> TerminalUi::leftMs(std::uint32_t nowMs) const {
    // Measured from the end of the first block, so the pauses before it do not count.
    if (done_ < 2) {
        return std::nullopt;
    }
    const std::uint64_t spent = link::elapsedMs(firstBlockMs_, nowMs);
    return static_cast<std::uint32_t>(spent * (blocks_ - done_) / (done_ - 1));
}

void TerminalUi::progress() {
    ++done_;
    const std::uint32_t now = clock_.tickMs();
    if (done_ == 1) {
        firstBlockMs_ = now;
    }
    const std::uint32_t elapsed = link::elapsedMs(startMs_, now);
    const std::optional<std::uint32_t> left = leftMs(now);
    if (quiet_) {
        return;
    }
    switch (style_) {
    case Style::Json: {
        out_ << jsonLine({{"event", "progress"},
                          {"block", done_},
                          {"blocks", blocks_},
                          {"percent", percent(done_, blocks_)},
                          {"elapsed_ms", elapsed},
                          {"remaining_ms", left ? JsonValue(*left) : JsonValue()}})
             << std::endl;
        return;
    }
    case Style::Bar:
        out_ << "\r" << progressBar(done_, blocks_, elapsed, left) << "\x1b[K" << std::flush;
        barOpen_ = true;
        return;
    case Style::Plain: {
        const std::uint32_t decile = done_ * 10 / blocks_;
        if (decile > lastDecile_) {
            lastDecile_ = decile;
            out_ << "Flash write: " << decile * 10 << " % (" << done_ << " of " << blocks_
                 << " blocks, " << minutes(elapsed) << " elapsed)" << std::endl;
        }
        return;
    }
    }
}

void TerminalUi::showWarning(std::string_view text, std::string_view caption) {
    const std::string words = terminalWording(trimRight(text));
    if (words.empty()) {
        return;
    }
    const std::string_view shownCaption =
        trimRight(caption) == updater::kSafetyCaption ? std::string_view{} : caption;
    warnings_.show(words, shownCaption);
}

void TerminalUi::warning(std::string_view text, std::string_view caption, std::uint64_t repeats) {
    // A run is open only while no bar is, so this closes the bar before a new warning.
    closeBar();
    err_ << boxLine(text, caption) << moreTimes(repeats) << std::endl;
    if (style_ == Style::Json) {
        JsonValue event{{"event", "warning"},
                        {"caption", latin1ToUtf8(trimRight(caption))},
                        {"text", latin1ToUtf8(trimRight(text))}};
        if (repeats > 0) {
            event["repeated"] = repeats;
        }
        out_ << jsonLine(event) << std::endl;
    }
}

namespace {

int finish(Context& c, int code, std::string_view outcome) {
    if (c.options.json) {
        c.out << jsonLine({{"event", "result"}, {"outcome", outcome}, {"exit_code", code}})
              << std::endl;
    }
    return code;
}

// At most `limit` + 1 bytes: enough to tell a file of the wrong size without reading
// all of a huge one.
base::Result<std::vector<std::uint8_t>> readFile(const std::string& path, std::size_t limit) {
    const auto file = base::openToRead(path);
    if (!file) {
        return file.context("cannot read " + base::printable(path));
    }
    std::vector<std::uint8_t> bytes(limit + 1);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file->get()));
    if (std::ferror(file->get())) {
        return base::fail("cannot read " + base::printable(path));
    }
    return bytes;
}

// The repository's placeholder images carry this at the start of every packet
// (updater/variants/make_placeholders.py). A build with the real image does not embed
// one, so a placeholder given as a file is recognised by it.
constexpr std::string_view kPlaceholderMarker = "PLACEHOLDER";

bool isPlaceholder(std::span<const std::uint8_t> image, const updater::Variant& built) {
    if (built.placeholderImage &&
        std::equal(image.begin(), image.end(), built.image.begin(), built.image.end())) {
        return true;
    }
    return image.size() >= kPlaceholderMarker.size() &&
           std::equal(kPlaceholderMarker.begin(), kPlaceholderMarker.end(), image.begin());
}

} // namespace

int runUpdate(Context& c, std::istream& in, bool inputTerminal, bool outputTerminal) {
    updater::Variant variant =
        c.options.flash == "fpga1" ? updater::fpga1::variant() : updater::fpga2::variant();
    const std::size_t size = std::size_t{variant.blockCount} * updater::kBlockSize;

    std::vector<std::uint8_t> fileImage;
    if (c.options.image) {
        auto bytes = readFile(*c.options.image, size);
        if (!bytes) {
            c.err << "telmarctl: " << bytes.error() << std::endl;
            return finish(c, kExitFailed, "refused");
        }
        if (bytes->size() != size) {
            c.err << "telmarctl: " << base::printable(*c.options.image) << " is "
                  << (bytes->size() > size ? "more than " + std::to_string(size)
                                           : std::to_string(bytes->size()))
                  << " bytes; the " << variant.buildName << " flash takes exactly " << size << " ("
                  << variant.blockCount << " blocks of " << updater::kBlockSize
                  << "); nothing was sent" << std::endl;
            return finish(c, kExitFailed, "refused");
        }
        fileImage = std::move(*bytes);
        // The placeholder guard holds for a placeholder given as a file too.
        variant.placeholderImage = isPlaceholder(fileImage, variant);
        variant.image = fileImage;
        variant.imageCrc32 = updater::crc32(fileImage);
    }

    if (!c.options.yes) {
        if (!inputTerminal) {
            c.err << "telmarctl: update asks before it writes; without a terminal give --yes"
                  << std::endl;
            return kExitUsage;
        }
        c.err << "Write this image to the TELMAR box: " << updater::aboutImageLine(variant)
              << "?\nThe box must stay powered and connected until the update has ended.\n"
                 "Continue? [y/N] "
              << std::flush;
        std::string answer;
        std::getline(in, answer);
        if (answer != "y" && answer != "Y" && answer != "yes") {
            c.err << "telmarctl: nothing was written" << std::endl;
            return finish(c, kExitFailed, "cancelled");
        }
    }

    const TerminalUi::Style style = c.options.json   ? TerminalUi::Style::Json
                                    : outputTerminal ? TerminalUi::Style::Bar
                                                     : TerminalUi::Style::Plain;
    TerminalUi ui(style, variant.blockCount, c.clock, c.out, c.err);
    ui.setQuiet(c.options.quiet);
    const auto outcome = runSafeguarded(variant, c.driver, c.clock, ui, c.err);
    ui.finishBar();
    using Outcome = updater::FlashUpdate::Outcome;
    struct OutcomeRow {
        Outcome outcome;
        std::string_view name;
        int exitCode;
    };
    constexpr std::array<OutcomeRow, 6> kOutcomes = {{
        {Outcome::Refused, "refused", kExitFailed},
        {Outcome::NoBox, "no-box", kExitNoBox},
        {Outcome::BoxInUse, "box-in-use", kExitFailed},
        {Outcome::BoxFailed, "box-failed", kExitFailed},
        {Outcome::Completed, "completed", kExitOk},
        {Outcome::Aborted, "aborted", kExitFailed},
    }};
    const OutcomeRow* row =
        findIn(kOutcomes, [outcome](const auto& r) { return r.outcome == outcome; });
    return finish(c, row->exitCode, row->name);
}

} // namespace telmar::cli
