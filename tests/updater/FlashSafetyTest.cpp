// SPDX-License-Identifier: MIT
// End to end: the Linux updater program (tests/updater/ReflasherHarness.cpp) against
// a private telmar-sim, interrupted the ways users interrupt firmware tools.
#include "sim/SimDriver.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"
#include "updater/Variant.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace telmar::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// One updater process; its stdout goes to a file. Killed if still running at the end.
class Updater {
  public:
    Updater(const TempFolder& folder, const std::string& name, bool stay = false)
        : outPath_(folder.file(name + ".out")) {
        const std::string binary = TELMAR_HARNESS_BINARY;
        std::vector<std::string> args = {binary, "fpga2"};
        if (stay) {
            args.emplace_back("--stay");
        }
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) {
                ::_exit(127);
            }
            std::FILE* out = std::fopen(outPath_.c_str(), "w");
            if (out == nullptr) {
                ::_exit(127);
            }
            ::dup2(::fileno(out), STDOUT_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Updater() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    void signal(int s) const { ::kill(pid_, s); }

    // Exit code, or -signal when a signal ended it; nullopt if still running after `limit`.
    std::optional<int> wait(std::chrono::milliseconds limit) {
        const auto deadline = SteadyClock::now() + limit;
        while (SteadyClock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            }
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }

    std::string output() const {
        std::ifstream in(outPath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    std::string outPath_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

class FlashSafety : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.running()) << sim.error();
        ASSERT_TRUE(folder.ok());
        sim.becomeUsbBackend();
        // The update lock lives here, private to this test.
        ::setenv("XDG_RUNTIME_DIR", folder.file("").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    int status(const std::string& key) { return std::stoi(sim.status().at(key)); }

    // Waits until the box has taken `packets` flash packets in this run.
    bool writingPast(int packets, std::chrono::milliseconds limit = 30s) {
        const auto deadline = SteadyClock::now() + limit;
        while (SteadyClock::now() < deadline) {
            if (status("writes") >= packets) {
                return true;
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    bool handlesClosed() {
        for (int i = 0; i < 500; ++i) {
            if (status("handles") == 0) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    // The box's flash is the image, and the box is out of programming mode.
    void expectFlashedAndOutOfIsp() {
        const auto flash = runCli({"--socket", sim.socket(), "flash", "fpga2"});
        const updater::Variant& v = updater::fpga2::variant();
        const std::string image(reinterpret_cast<const char*>(v.image.data()), v.image.size());
        EXPECT_EQ(flash.out.size(), image.size());
        EXPECT_TRUE(flash.out == image) << "the flash differs from the image";
        EXPECT_EQ(status("isp"), 0);
        EXPECT_EQ(status("misuse"), 0);
    }

    // A clean run from the start, as the user's "run Update Firmware again".
    void secondRunRecovers() {
        ASSERT_TRUE(handlesClosed());
        Updater again(folder, "again");
        const auto code = again.wait(60s);
        ASSERT_TRUE(code.has_value()) << "the second run did not end";
        EXPECT_EQ(*code, 0) << again.output();
        EXPECT_NE(again.output().find("finished"), std::string::npos) << again.output();
        EXPECT_EQ(again.output().find("box:"), std::string::npos) << again.output();
        expectFlashedAndOutOfIsp();
    }

    Watchdog watchdog{150s};
    // Slow enough replies that a run is caught mid-write, fast enough for a test.
    SimProcess sim{{"--delay-ms", "1"}};
    TempFolder folder;
};

TEST_F(FlashSafety, TerminationSignalsWaitForTheWriteToEnd) {
    watchdog.guard(sim.pid());
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(s));
        const int before = status("writes");
        Updater run(folder, "term", /*stay=*/true);
        ASSERT_TRUE(writingPast(before + 200));
        run.signal(s);
        const auto code = run.wait(60s);
        ASSERT_TRUE(code.has_value()) << "the updater did not end after the write";
        EXPECT_EQ(*code, 0) << "ended by the signal mid-write, or not as the close box would";
        EXPECT_EQ(status("writes"), before + 1600) << "the write did not run to its end";
        EXPECT_NE(run.output().find("finished"), std::string::npos) << run.output();
        expectFlashedAndOutOfIsp();
    }
}

TEST_F(FlashSafety, KilledMidWriteThenASecondRunRecovers) {
    watchdog.guard(sim.pid());
    {
        Updater first(folder, "first");
        ASSERT_TRUE(writingPast(300));
        first.signal(SIGKILL);
        ASSERT_EQ(first.wait(10s), -SIGKILL);
    }
    EXPECT_EQ(status("isp"), 1) << "the kill should have left the box in programming mode";
    secondRunRecovers();
}

TEST_F(FlashSafety, UnpluggedMidWriteThenPluggedAndASecondRunRecovers) {
    watchdog.guard(sim.pid());
    {
        Updater first(folder, "first");
        ASSERT_TRUE(writingPast(300));
        ASSERT_TRUE(sim.control("unplug").ok);
        const auto code = first.wait(60s);
        ASSERT_TRUE(code.has_value());
        EXPECT_EQ(*code, 1);
        // The fatal boxes, then the way back as the last word.
        const std::string out = first.output();
        const auto recovery = out.find("box: The firmware was NOT updated.");
        EXPECT_NE(recovery, std::string::npos) << out;
        EXPECT_EQ(out.find("box:", recovery + 1), std::string::npos) << out;
    }
    ASSERT_TRUE(sim.control("plug").ok);
    secondRunRecovers();
}

TEST_F(FlashSafety, ASecondUpdaterIsRefusedAndTheFirstWritesTheWholeImage) {
    watchdog.guard(sim.pid());
    Updater first(folder, "first");
    ASSERT_TRUE(writingPast(100));
    const int framesBefore = status("frames");
    {
        Updater second(folder, "second", /*stay=*/true);
        // It says so at once and sends nothing; its window stays until closed.
        for (int i = 0; i < 500 && second.output().find("box:") == std::string::npos; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_NE(second.output().find("box: Another firmware update is already running."),
                  std::string::npos)
            << second.output();
        second.signal(SIGTERM);
        EXPECT_EQ(second.wait(20s), 0);
    }
    const auto code = first.wait(60s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0) << first.output();
    // Only the first run's frames: 1653 in all, some of them before the second started.
    EXPECT_EQ(status("frames"), 1653);
    EXPECT_LE(framesBefore, 1653);
    expectFlashedAndOutOfIsp();
}

// A real device can be claimed by one program at a time; the simulated box must not
// let a second updater write into the first one's run.
TEST(SimulatedBox, OneOpenHandlePerBox) {
    Watchdog watchdog{60s};
    SimProcess sim({"--serials", "2031,2031"});
    ASSERT_TRUE(sim.running()) << sim.error();
    sim::SimDriver first(sim.socket());
    sim::SimDriver second(sim.socket());
    EXPECT_TRUE(first.simulatedBox());
    usb::Handle a = usb::kNoHandle;
    usb::Handle b = usb::kNoHandle;
    ASSERT_EQ(first.open(0, a), usb::kSuccess);
    EXPECT_NE(second.open(0, b), usb::kSuccess);
    EXPECT_NE(first.open(0, b), usb::kSuccess);
    ASSERT_EQ(second.open(1, b), usb::kSuccess) << "the other box is free";
    EXPECT_EQ(first.close(a), usb::kSuccess);
    // The claim ends with the handle: closed, or its process gone.
    for (int i = 0; i < 100 && sim.status()["handles"] != "0"; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(second.open(0, a), usb::kSuccess);
    EXPECT_EQ(second.close(a), usb::kSuccess);
    EXPECT_EQ(second.close(b), usb::kSuccess);
}

} // namespace
} // namespace telmar::test
