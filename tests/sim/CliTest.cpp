// SPDX-License-Identifier: MIT
// The telmar-sim program as run.sh and a user at a terminal use it.

#include "sim/Wire.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>

namespace telmar::test {
namespace {

using namespace std::chrono_literals;

TEST(Cli, BadCommandsAreSaidInOneLineWithExitCode2) {
    Watchdog watchdog{60s};
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.error();
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"bogus"},
        {"--frobnicate", "status"},
        {"--box"},
        {"--box", "x", "status"},
        {"status", "extra"},
        {"scenario"},
        {"scenario", "no-such-scenario"}, // refused by the daemon
        {"switches", "up"},
        {"switches", "up", "sideways"},
        {"fault"},
        {"fault", "explode"},
        {"fault", "drop", "lots"},
        {"flash", "fpga3"},
        {"delay", "-5"},
        {"serve", "--delay-ms", "soon"},
        {"serve", "--scenario", "nope"},
        {"serve", "--serials", "2031,,1111"},
        {"serve", "--serials", "2031,"},
        {"serve", "--serials", ""},
        {"serve", "--socket"},
        {"serve", "--daemonize"},
        {"block", "16", "00"},
        {"block", "11", std::string(128, '0')},
        {"scenario", "--file", "/dev/null/none"},
    };
    for (auto args : bad) {
        const bool serve = !args.empty() && args[0] == "serve";
        args.insert(args.begin(), {"--socket", sim.socket()});
        const auto r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << (args.size() > 2 ? args[2] : "(no command)");
        EXPECT_EQ(r.err.rfind("telmar-sim: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_TRUE(r.err.ends_with("\ntry 'telmar-sim --help'\n")) << r.err;
        EXPECT_TRUE(serve || r.out.empty());
    }
    // None of it took the daemon down or changed the box.
    const auto status = sim.status();
    EXPECT_EQ(status.at("scenario"), "1080p60");
    EXPECT_EQ(status.at("faults"), "none");
}

TEST(Cli, ControlCommandsChangeTheBox) {
    Watchdog watchdog{60s};
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.error();
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--socket", sim.socket()});
        const auto r = runCli(args);
        EXPECT_EQ(r.exitCode, 0) << args[2] << ": " << r.err;
        return r.out;
    };
    EXPECT_NE(run({"status"}).find("isp=0 flash=none block=- resets=0 hpd=0"), std::string::npos);
    run({"scenario", "demo"});
    run({"switches", "dn", "up"});
    run({"fault", "drop", "2"});
    run({"unplug"});
    run({"delay", "5"});
    auto status = sim.status();
    EXPECT_EQ(status.at("scenario"), "demo");
    EXPECT_EQ(status.at("edid-switch"), "2");
    EXPECT_EQ(status.at("audio-switch"), "3");
    EXPECT_EQ(status.at("faults"), "drop=2");
    EXPECT_EQ(status.at("plugged"), "0");
    EXPECT_EQ(status.at("delay-ms"), "5");
    run({"plug"});
    run({"fault", "clear"});
    status = sim.status();
    EXPECT_EQ(status.at("plugged"), "1");
    EXPECT_EQ(status.at("faults"), "none");
    EXPECT_NE(run({"scenarios"}).find("spd-markup"), std::string::npos);
    EXPECT_EQ(run({"flash", "fpga1"}).size(), 248u * 512u);
}

TEST(Cli, ARefusalOfTheSimulatorIsSaidAsSuchWithExitCode3) {
    Watchdog watchdog{60s};
    SimProcess sim({"--max-clients", "1"});
    ASSERT_TRUE(sim.running()) << sim.error();
    // An open handle is never evicted to make room.
    const int handle = sim::net::connectUnix(sim.socket());
    ASSERT_GE(handle, 0);
    ASSERT_TRUE(sim::net::sendAll(handle, "open 0\n", 2000));
    sim::LineBuffer in;
    ASSERT_EQ(sim::net::readLine(handle, in, 2000), "ok open 0 0 0");
    const auto r = runCli({"--socket", sim.socket(), "status"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "telmar-sim: the simulator refused: too many connections (1)\n");
    sim::net::closeFd(handle);
}

TEST(Cli, BlocksFromAFileOrTheCommandLineGoOnTheInput) {
    Watchdog watchdog{60s};
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.error();
    const TempFolder folder;
    const std::string file = folder.file("trace-blocks.txt");
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("# seen on a real box\nblock 14 87 01 1A 02\n\nblock 11 0B 40\n", f);
    std::fclose(f);
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--socket", sim.socket()});
        return runCli(args);
    };
    const auto zeros = [](int n) {
        std::string text;
        for (int i = 0; i < n; ++i) {
            text += " 00";
        }
        return text;
    };
    EXPECT_EQ(run({"scenario", "--file", file}).exitCode, 0);
    EXPECT_EQ(run({"block", "14"}).out, "87 01 1A 02" + zeros(59) + "\n");
    EXPECT_EQ(run({"block", "11"}).out, "0B 40" + zeros(61) + "\n");
    EXPECT_EQ(run({"block", "13", "8202", "19"}).exitCode, 0);
    EXPECT_EQ(run({"block", "13"}).out, "82 02 19" + zeros(60) + "\n");
    EXPECT_EQ(run({"scenario", "1080p60"}).exitCode, 0);
    EXPECT_NE(run({"block", "14"}).out, "87 01 1A 02" + zeros(59) + "\n");
}

TEST(Cli, StatusFailsWhenNoDaemonAnswers) {
    const auto r = runCli({"--socket", "/tmp/telmar-sim-test-nobody-here.sock", "status"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no simulator answers"), std::string::npos);
}

TEST(Cli, StopAndSignalsEndTheDaemonAndRemoveItsSocket) {
    Watchdog watchdog{60s};
    enum class How { Stop, Term, Int };
    for (How how : {How::Stop, How::Term, How::Int}) {
        SimProcess sim;
        ASSERT_TRUE(sim.running()) << sim.error();
        ASSERT_TRUE(std::filesystem::exists(sim.socket()));
        std::optional<int> code;
        if (how == How::Stop) {
            EXPECT_EQ(runCli({"--socket", sim.socket(), "stop"}).exitCode, 0);
            // "stop" returns once the socket is gone.
            EXPECT_FALSE(std::filesystem::exists(sim.socket()));
            code = sim.waitExit(10000);
        } else {
            code = sim.signalAndWait(how == How::Term ? SIGTERM : SIGINT);
        }
        EXPECT_EQ(code, 0);
        EXPECT_FALSE(std::filesystem::exists(sim.socket()));
    }
}

TEST(Cli, ASecondDaemonOnTheSameSocketIsRefused) {
    Watchdog watchdog{60s};
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.error();
    const auto r = runCli({"--socket", sim.socket(), "serve"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("already serves"), std::string::npos);
    EXPECT_EQ(sim.status().at("serial"), "2031"); // the first one is untouched
}

TEST(Cli, AStaleSocketIsReplacedButAForeignFileIsNot) {
    Watchdog watchdog{60s};
    {
        SimProcess sim;
        ASSERT_TRUE(sim.running()) << sim.error();
        // A daemon killed outright leaves its socket behind.
        ::kill(sim.pid(), SIGKILL);
        sim.waitExit(5000);
        ASSERT_TRUE(std::filesystem::exists(sim.socket()));
        const auto stop = std::async(std::launch::async, [&] {
            std::this_thread::sleep_for(500ms);
            return runCli({"--socket", sim.socket(), "stop"});
        });
        const auto r = runCli({"--socket", sim.socket(), "serve"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "telmar-sim: serving on " + sim.socket() + "\n");
        EXPECT_EQ(stop.wait_for(10s), std::future_status::ready);
    }
    const TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string file = folder.file("sim.sock");
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("keep me", f);
    std::fclose(f);
    const auto r = runCli({"--socket", file, "serve"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(std::filesystem::exists(file));
}

TEST(Cli, TheSocketComesFromTheEnvironment) {
    const char* saved[] = {std::getenv("TELMAR_SIM_SOCKET"), std::getenv("XDG_RUNTIME_DIR")};
    const std::string keep[] = {saved[0] ? saved[0] : "", saved[1] ? saved[1] : ""};
    ::setenv("TELMAR_SIM_SOCKET", "/run/x/explicit.sock", 1);
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(sim::defaultSocketPath(), "/run/x/explicit.sock");
    ::setenv("TELMAR_SIM_SOCKET", "", 1);
    EXPECT_EQ(sim::defaultSocketPath(), "/run/user/4242/telmar-sim.sock");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(sim::defaultSocketPath(),
              "/tmp/telmar-sim-" + std::to_string(::getuid()) + "/sim.sock");

    Watchdog watchdog{60s};
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.error();
    ::setenv("TELMAR_SIM_SOCKET", sim.socket().c_str(), 1);
    EXPECT_EQ(runCli({"status"}).exitCode, 0);

    saved[0] ? ::setenv("TELMAR_SIM_SOCKET", keep[0].c_str(), 1) : ::unsetenv("TELMAR_SIM_SOCKET");
    if (saved[1]) {
        ::setenv("XDG_RUNTIME_DIR", keep[1].c_str(), 1);
    }
}

TEST(Wire, HexRoundTripsAndRejectsJunk) {
    const std::vector<std::uint8_t> bytes = {0x00, 0x10, 0xAB, 0xFF};
    EXPECT_EQ(sim::toHex(bytes), "0010ABFF");
    EXPECT_EQ(sim::fromHex("0010abFF"), bytes);
    for (const char* junk : {"0", "0G", "1 2", "zz", "0x10"}) {
        EXPECT_FALSE(sim::fromHex(junk).has_value()) << junk;
    }
    EXPECT_EQ(sim::fromHex(""), std::vector<std::uint8_t>{});
}

TEST(Wire, LinesAreHandedOutWholeAcrossChunks) {
    sim::LineBuffer buffer;
    buffer.append("da", 2);
    EXPECT_FALSE(buffer.next());
    buffer.append("ta 01\nunplug", 12);
    EXPECT_EQ(buffer.next(), "data 01");
    EXPECT_FALSE(buffer.next());
    buffer.append("ged\n\n", 5);
    EXPECT_EQ(buffer.next(), "unplugged");
    EXPECT_EQ(buffer.next(), "");
    EXPECT_EQ(sim::splitWords("  box 1\tstatus \r"),
              (std::vector<std::string>{"box", "1", "status"}));
}

} // namespace
} // namespace telmar::test
