// SPDX-License-Identifier: MIT
// telmarctl against a failing box and a hostile environment: floods of one warning, a
// reader that goes away, names and files that are not what they claim.

#include "cli/Update.h"
#include "link/Clock.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace telmar {
namespace {

using test::CliResult;

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class HostileCli : public ::testing::Test {
  protected:
    void SetUp() override {
        watchdog.guard(sim.pid());
        ASSERT_TRUE(sim.running()) << sim.error();
        sim.becomeUsbBackend();
        ::setenv("XDG_RUNTIME_DIR", sim.folder().c_str(), 1);
    }
    static CliResult run(std::vector<std::string> words, int timeoutMs = 20000) {
        words.insert(words.begin(), {TELMARCTL_BINARY, "--backend", "sim"});
        return test::runProgram(words, timeoutMs);
    }

    test::Watchdog watchdog{std::chrono::seconds(60)};
    test::SimProcess sim{{"--delay-ms", "1"}};
};

// A box whose every queue check fails makes the link warn thousands of times: a run is
// its first line and one count, on standard error and in JSON alike.
TEST_F(HostileCli, ARunOfOneWarningIsOneLineAndItsCount) {
    ASSERT_TRUE(sim.control("fault queue always").ok);
    const CliResult get = run({"get"});
    EXPECT_EQ(get.exitCode, 1);
    EXPECT_EQ(count(get.err, "Error Checking RX Queue"), 2u) << get.err.substr(0, 2000);
    EXPECT_NE(get.err.find(" more times)"), std::string::npos) << get.err.substr(0, 2000);

    link::SteadyClock clock;
    std::ostringstream out;
    std::ostringstream err;
    cli::TerminalUi ui(cli::TerminalUi::Style::Json, 50, clock, out, err);
    for (int i = 0; i < 5000; ++i) {
        ui.showWarning("Error Checking Queue", "");
    }
    ui.showWarning("ERROR exit ISP mode !", "Critical Error!!!");
    ui.showWarning("Error Checking Queue", "");
    ui.finishBar();
    EXPECT_EQ(out.str(),
              "{\"event\":\"warning\",\"caption\":\"\",\"text\":\"Error Checking Queue\"}\n"
              "{\"event\":\"warning\",\"caption\":\"\",\"text\":\"Error Checking Queue\","
              "\"repeated\":4999}\n"
              "{\"event\":\"warning\",\"caption\":\"Critical Error!!!\","
              "\"text\":\"ERROR exit ISP mode !\"}\n"
              "{\"event\":\"warning\",\"caption\":\"\",\"text\":\"Error Checking Queue\"}\n");
    EXPECT_EQ(count(err.str(), "\n"), 4u) << err.str();
}

// --watch whose reader has gone gives the box back at once, not at the next change.
TEST_F(HostileCli, WatchEndsWhenNobodyReads) {
    const std::string pipeline = std::string("timeout -s KILL 10 ") + TELMARCTL_BINARY +
                                 " --backend sim status --watch | head -1";
    const auto start = std::chrono::steady_clock::now();
    const CliResult r = test::runProgram({"/bin/sh", "-c", pipeline}, 15000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(sim.status()["handles"], "0");
}

// What the user gave that is not what it claims ends with one clear line and its exit
// code, never with a hang or the real box.
TEST_F(HostileCli, WrongNamesAndFilesAreSaidPlainly) {
    test::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string fifo = folder.file("image.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const CliResult image = run({"update", "fpga2", "--yes", "--image", fifo}, 5000);
    EXPECT_EQ(image.exitCode, 1) << image.err;
    EXPECT_NE(image.err.find("is not a regular file"), std::string::npos) << image.err;
    EXPECT_EQ(sim.status()["frames"], "0");

    ::setenv("TELMAR_USB_BACKEND", "SIM", 1);
    const CliResult backend = test::runProgram({TELMARCTL_BINARY, "status"}, 5000);
    ::setenv("TELMAR_USB_BACKEND", "sim", 1);
    EXPECT_EQ(backend.exitCode, 2);
    EXPECT_EQ(backend.err,
              "telmarctl: TELMAR_USB_BACKEND: unknown backend \"SIM\" (expected usb or sim or "
              "replay)\n");
}

} // namespace
} // namespace telmar
