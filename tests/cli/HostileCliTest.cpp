// SPDX-License-Identifier: MIT
// telmarctl against a failing box and a hostile environment.

#include "cli/Update.h"
#include "link/Clock.h"
#include "tests/support/OnSimulatedBox.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace telmar {
namespace {

// Every run below has its own time limit as well.
class HostileCli : public test::OnSimulatedBox {};

// A box whose every queue check fails makes the link warn thousands of times a second:
// a run is its first line and one count, on standard error and in JSON alike.
TEST_F(HostileCli, ARunOfOneWarningIsOneLineAndItsCount) {
    ASSERT_TRUE(sim.control("fault queue always").ok);
    const test::CliResult get = test::runProgram({TELMARCTL_BINARY, "get"}, 20000);
    EXPECT_EQ(get.exitCode, 1);
    EXPECT_EQ(std::count(get.err.begin(), get.err.end(), '\n'), 3) << get.err.substr(0, 999);
    EXPECT_NE(get.err.find("Error Checking RX Queue ("), std::string::npos) << get.err;

    link::SteadyClock clock;
    std::ostringstream out, err;
    cli::TerminalUi ui(cli::TerminalUi::Style::Json, 50, clock, out, err);
    for (int i = 0; i < 5000; ++i) {
        ui.showWarning("Error Checking Queue", "");
    }
    ui.finishBar();
    const std::string event = R"({"event":"warning","caption":"","text":"Error Checking Queue")";
    EXPECT_EQ(out.str(), event + "}\n" + event + ",\"repeated\":4999}\n");
}

// --watch whose reader has gone gives the box back at once, not at the next change.
TEST_F(HostileCli, WatchEndsWhenNobodyReads) {
    const auto start = std::chrono::steady_clock::now();
    const test::CliResult r = test::runProgram(
        {"/bin/sh", "-c",
         std::string("timeout -s KILL 10 ") + TELMARCTL_BINARY + " status --watch | head -1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(sim.status()["handles"], "0");
}

// A name or a file that is not what it claims ends in one line and its exit code, never
// in a hang or on the real box.
TEST_F(HostileCli, WrongNamesAndFilesAreSaidPlainly) {
    test::TempFolder folder;
    ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0600), 0);
    const test::CliResult image = test::runProgram(
        {TELMARCTL_BINARY, "update", "fpga2", "--yes", "--image", folder.file("fifo")}, 5000);
    EXPECT_EQ(image.exitCode, 1);
    EXPECT_NE(image.err.find("is not a regular file"), std::string::npos) << image.err;
    EXPECT_EQ(sim.status()["frames"], "0");

    ::setenv("TELMAR_USB_BACKEND", "SIM", 1);
    const test::CliResult backend = test::runProgram({TELMARCTL_BINARY, "status"}, 5000);
    EXPECT_EQ(backend.exitCode, 2);
    EXPECT_EQ(backend.err, "telmarctl: TELMAR_USB_BACKEND: unknown backend \"SIM\" (expected "
                           "usb or sim or replay)\n");
}

} // namespace
} // namespace telmar
