// SPDX-License-Identifier: MIT
// The Linux updater program (tests/updater/ReflasherHarness.cpp, answering nothing) on
// an X server, alone and under a window manager: a failed write's first box is still
// up 5 s later, alone, and the program waits for its user.
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/wait.h>

namespace telmar::test {
namespace {

using namespace std::chrono_literals;

TEST(UpdaterBoxes, AFailedWritesBoxWaitsForItsUser) {
    if (!std::filesystem::exists("/usr/bin/Xvfb") || !std::filesystem::exists("/usr/bin/openbox")) {
        GTEST_SKIP() << "Xvfb or openbox is not installed";
    }
    Watchdog watchdog{150s};
    for (const bool manager : {false, true}) {
        for (const auto& failure :
             {std::vector<std::string>{"unplug"}, {"fault", "reject-packet", "100"}}) {
            SCOPED_TRACE((manager ? "openbox, " : "no window manager, ") + failure[0]);
            SimProcess sim{{"--delay-ms", "2"}};
            TempFolder folder;
            ASSERT_TRUE(sim.running() && folder.ok());
            sim.becomeUsbBackend();
            ::setenv("XDG_RUNTIME_DIR", folder.file("").c_str(), 1);
            ::unsetenv("QT_QPA_PLATFORM");
            ChildRun xvfb({"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp"});
            ASSERT_TRUE(xvfb.waitForOut("\n", 10000));
            ::setenv("DISPLAY", (":" + xvfb.out().substr(0, xvfb.out().find('\n'))).c_str(), 1);
            std::optional<ChildRun> wm;
            if (manager) {
                wm.emplace(std::vector<std::string>{"/usr/bin/openbox", "--sm-disable"});
            }
            ChildRun updater({TELMAR_HARNESS_BINARY, "fpga2", "--watch"});
            for (int i = 0; i < 3000 && std::stoi(sim.status().at("writes")) < 100; ++i) {
                std::this_thread::sleep_for(10ms);
            }
            std::vector<std::string> args = {"--socket", sim.socket()};
            args.insert(args.end(), failure.begin(), failure.end());
            ASSERT_EQ(runCli(args).exitCode, 0);
            ASSERT_TRUE(updater.waitForOut("boxes: 1", 15000)) << updater.out();
            // Gone, or a second before the first was answered, or the process ended.
            EXPECT_FALSE(updater.waitForOut("boxes: 0", 2000)) << updater.out();
            EXPECT_EQ(updater.out().find("boxes: 2"), std::string::npos) << updater.out();
            EXPECT_EQ(::waitpid(updater.pid(), nullptr, WNOHANG), 0) << "the updater ended";
        }
    }
}

} // namespace
} // namespace telmar::test
