// SPDX-License-Identifier: MIT
// telmarctl as a script uses it: a watch that outlives the box, answers in JSON, limits.

#include "cli/Commands.h"
#include "cli/ErrorReport.h"
#include "cli/Text.h"
#include "tests/support/OnSimulatedBox.h"
#include "tests/support/ScriptedDriver.h"
#include "tests/support/SimProcess.h"
#include "tests/support/VirtualClock.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace telmar {
namespace {

TEST(CliTimeout, SecondsAreParsedOrRefused) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"2", 2000}, {"0.5", 500},   {"1.25", 1250},    {"86400", 86400000},
        {"0", {}},   {"", {}},       {".", {}},         {"-1", {}},
        {"1e3", {}}, {"0.0001", {}}, {"86400.001", {}}, {"99999999999999999999", {}},
        {"2s", {}},  {"1..2", {}},
    };
    for (const auto& [text, ms] : cases) {
        EXPECT_EQ(cli::parseTimeout(text), ms) << text;
    }
    const auto parse = [](std::vector<std::string> args) { return cli::parseArguments(args); };
    EXPECT_EQ(parse({"-V"}).options->command, cli::Command::Version);
    const auto quiet = parse({"-q", "status", "--timeout=1.5"}).options;
    EXPECT_TRUE(quiet && quiet->quiet && quiet->timeoutMs == 1500u);
    EXPECT_FALSE(parse({"-q", "-v", "status"}).options);
    EXPECT_FALSE(parse({"--timeout", "1", "update", "fpga2", "--yes"}).options);
}

// A box that never answers: each command ends at its limit, prints no result, has sent
// nothing after the exchange in flight and has closed the box.
TEST(CliTimeout, ACommandEndsAtItsLimitWithTheBoxClosed) {
    for (const auto& words : {std::vector<std::string>{"status"},
                              {"status", "--watch"},
                              {"get"},
                              {"set", "logo-led", "off"},
                              {"hpd"}}) {
        SCOPED_TRACE(words[0] + " " + words.back());
        link::VirtualClock virtualClock;
        test::ScriptedDriver driver{virtualClock};
        driver.addDevice("2031");
        driver.setResponder([](std::span<const std::uint8_t>) { return std::nullopt; });
        driver.setQueueCheckCostMs(1);
        const cli::Options options = *cli::parseArguments(words).options;
        cli::DeadlineClock clock(virtualClock, 2000);
        std::ostringstream out, err;
        cli::Context c{options, driver, clock, out, err};
        c.deadline = &clock;
        const int code = options.command == cli::Command::Status ? cli::runStatus(c)
                         : options.command == cli::Command::Get  ? cli::runGet(c)
                         : options.command == cli::Command::Set  ? cli::runSet(c)
                                                                 : cli::runHpd(c);
        EXPECT_EQ(code, cli::kExitFailed);
        EXPECT_TRUE(clock.expired());
        EXPECT_GE(virtualClock.tickMs(), 2000u);
        EXPECT_LE(virtualClock.tickMs(), 2010u);
        EXPECT_EQ(out.str(), "");
        EXPECT_EQ(driver.writtenFrames().size(), 1u);
        EXPECT_EQ(driver.openHandles(), 0);
    }
}

TEST(CliErrors, TheJsonErrorIsWhatStandardErrorSaid) {
    std::ostringstream target;
    cli::TeeLines tee(target.rdbuf());
    std::ostream err(&tee);
    err << "telmarctl: no box\n"
        << "telmarctl: \xff no simulator";
    EXPECT_EQ(target.str(), "telmarctl: no box\ntelmarctl: \xff no simulator");
    const auto json = cli::JsonValue::parse(cli::errorJson(tee.lines(), 3));
    EXPECT_EQ(json,
              (cli::JsonValue{{"error", "no box; \xef\xbf\xbd no simulator"}, {"exit_code", 3}}));
    EXPECT_EQ(cli::errorJson({}, 2), R"({"error":"usage error","exit_code":2})");
}

class UsabilityCli : public test::OnSimulatedBox {
  protected:
    static std::vector<std::string> command(std::vector<std::string> words) {
        words.insert(words.begin(), {TELMARCTL_BINARY, "--backend", "sim"});
        return words;
    }
};

TEST_F(UsabilityCli, WatchSaysOnceThatTheBoxIsGoneAndShowsItAgainWhenItIsBack) {
    test::ChildRun watch(command({"--json", "status", "--watch"}));
    ASSERT_TRUE(watch.waitForOut("}\n", 5000)) << watch.err();
    control("unplug");
    ASSERT_TRUE(watch.waitForOut(R"({"event":"disconnected","time":")", 8000)) << watch.err();
    // Two more searches find nothing and say nothing.
    EXPECT_FALSE(watch.waitForOut(R"("event":"connected")", 6500));
    control("plug");
    ASSERT_TRUE(watch.waitForOut(R"("event":"connected")", 8000)) << watch.err();
    // Then a whole line after the event: the status again.
    const auto lineAfterEvent = [&] {
        const std::string& out = watch.out();
        const auto event = out.find('\n', out.find(R"("event":"connected")"));
        return event != std::string::npos && out.find('\n', event + 1) != std::string::npos;
    };
    for (int i = 0; i < 50 && !lineAfterEvent(); ++i) {
        watch.waitForOut("\x01", 100); // reads what came
    }
    watch.signal(SIGINT);
    const test::CliResult result = watch.finish(3000);
    std::istringstream lines(result.out);
    std::vector<std::string> events;
    for (std::string line; std::getline(lines, line);) {
        const auto json = cli::JsonValue::parse(line);
        events.push_back(json.contains("event")
                             ? json["event"].get<std::string>()
                             : std::string(json.contains("version") ? "status" : "?"));
    }
    EXPECT_EQ(events, (std::vector<std::string>{"status", "disconnected", "connected", "status"}));
    EXPECT_EQ(result.err.find("Error Reading values"), std::string::npos) << result.err;
}

TEST_F(UsabilityCli, EveryCommandAnswersInJsonAndEveryFailureIsAnObject) {
    const std::string longSocket = sim.folder() + "/" + std::string(120, 's');
    struct Case {
        std::string before;
        std::vector<std::string> words;
        int exitCode;
        std::string socket; // else the fixture's
    };
    const Case cases[] = {
        {"", {"--json", "hpd"}, 0, ""},
        {"", {"--json", "set", "gui-control", "on"}, 0, ""},
        {"", {"--json", "-V"}, 0, ""},
        {"", {"--json", "statu"}, 2, ""},
        {"fault byte0 0xE1", {"--json", "set", "logo-led", "off"}, 1, ""},
        {"unplug", {"--json", "status"}, 3, ""},
        {"", {"--json", "status"}, 1, longSocket}, // cannot even count: no "no box"
        {"", {"--json", "list"}, 1, longSocket},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.back());
        if (!c.before.empty()) {
            control(c.before);
        }
        ::setenv("TELMAR_SIM_SOCKET", (c.socket.empty() ? sim.socket() : c.socket).c_str(), 1);
        const test::CliResult r = test::runProgram(command(c.words), 20000);
        control("fault clear");
        control("plug");
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        ASSERT_FALSE(r.out.empty()) << r.err;
        const std::string last = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
        const auto json = cli::JsonValue::parse(last);
        if (c.exitCode == 0) {
            EXPECT_FALSE(json.contains("error")) << last;
            continue;
        }
        EXPECT_EQ(json["exit_code"], c.exitCode);
        EXPECT_FALSE(r.err.empty());
        EXPECT_NE(r.err.find(json["error"].get<std::string>().substr(0, 20)), std::string::npos);
    }
    ::setenv("TELMAR_SIM_SOCKET", sim.socket().c_str(), 1);
}

TEST_F(UsabilityCli, TimeoutEndsASlowCommandAndTheBoxStaysUsable) {
    control("delay 3000");
    const auto start = std::chrono::steady_clock::now();
    const test::CliResult r = test::runProgram(command({"status", "--timeout", "2"}), 20000);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("timed out after 2 s"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LE(took, std::chrono::milliseconds(3500));
    control("delay 1");
    EXPECT_EQ(test::runProgram(command({"status"}), 20000).exitCode, 0);
}

} // namespace
} // namespace telmar
