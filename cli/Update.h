// SPDX-License-Identifier: MIT
#pragma once

#include "cli/Commands.h"
#include "cli/WarningRun.h"
#include "link/Clock.h"
#include "updater/UserInterface.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace telmar::cli {

// "[#####-----]  50 %  0:04 elapsed, about 0:04 left" after `done` of `blocks`; the
// estimate only when there is one.
std::string progressBar(std::uint32_t done, std::uint32_t blocks, std::uint32_t elapsedMs,
                        std::optional<std::uint32_t> leftMs);

// The flash procedure's view of a terminal or a pipe. Lines go to `out` (a progress
// bar on a terminal, one line per 10 % otherwise, JSON lines with --json); boxes go
// to `err` as one line each in terminal wording, without the window's title as their
// caption, and also to `out` as JSON events with --json. A box without text (the
// fatal path's) adds nothing to the line drawn before it and is left out. A run of the
// same box is shown once, and its count when the run ends (see WarningRun).
class TerminalUi final : public updater::UserInterface {
  public:
    enum class Style { Bar, Plain, Json };
    TerminalUi(Style style, std::uint32_t blocks, link::Clock& clock, std::ostream& out,
               std::ostream& err);
    // Its run of warnings prints through this object.
    TerminalUi(const TerminalUi&) = delete;
    TerminalUi& operator=(const TerminalUi&) = delete;

    void drawStatusLine(std::string_view text, int y) override;
    void showWarning(std::string_view text, std::string_view caption) override;
    // Not carried out: the command ends after the procedure has returned, with the
    // procedure's outcome.
    void endProcess(int /*exitCode*/) override {}

    std::uint32_t blocksDone() const { return done_; }
    // Ends an open progress bar line and a run of warnings.
    void finishBar();
    // -q: no progress, in any style; lines and boxes are still shown.
    void setQuiet(bool quiet) { quiet_ = quiet; }

  private:
    void progress();
    void closeBar();
    void warning(std::string_view text, std::string_view caption, std::uint64_t repeats);
    std::optional<std::uint32_t> leftMs(std::uint32_t nowMs) const;

    Style style_;
    std::uint32_t blocks_;
    link::Clock& clock_;
    std::ostream& out_;
    std::ostream& err_;
    std::uint32_t done_ = 0;
    std::uint32_t startMs_ = 0;
    std::uint32_t firstBlockMs_ = 0;
    std::uint32_t lastDecile_ = 0;
    bool barOpen_ = false;
    bool quiet_ = false;
    WarningRun warnings_{[this](std::string_view text, std::string_view caption,
                                std::uint64_t repeats) { warning(text, caption, repeats); }};
};

// update fpga1|fpga2 [--image FILE] [--yes]. `terminal`: standard input and output
// are a terminal (asks for confirmation, draws a bar).
int runUpdate(Context& c, std::istream& in, bool inputTerminal, bool outputTerminal);

} // namespace telmar::cli
