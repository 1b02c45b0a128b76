// SPDX-License-Identifier: MIT
// Trace and replay files, and the text they carry, as an attacker on the same machine
// would shape them.
#include "backends/Diagnostics.h"
#include "backends/DriverFactory.h"
#include "base/File.h"
#include "tests/support/TempFolder.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace {

using namespace telmar;
namespace fs = std::filesystem;

const std::string kHeader = R"({"format":"telmar-usb-trace","version":1})";

TEST(HostileFiles, OnlyRegularFilesAreOpenedAndNothingWaitsOrFollowsALink) {
    test::TempFolder folder;
    const std::string fifo = folder.file("fifo"), link = folder.file("link");
    const std::string existing = folder.file("existing"), fresh = folder.file("new");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(existing) << kHeader << "\n";
    fs::create_symlink(existing, link);
    const auto started = std::chrono::steady_clock::now();
    for (const std::string& path : {fifo, std::string("/dev/zero"), folder.file(""), link}) {
        EXPECT_FALSE(base::openToRead(path)) << path;
        EXPECT_FALSE(base::createToWrite(path, true)) << path;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_FALSE(base::createToWrite(existing, false));
    EXPECT_TRUE(base::createToWrite(fresh, false));
    EXPECT_EQ(fs::status(fresh).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(base::createToWrite(existing, true));
    EXPECT_EQ(fs::file_size(existing), 0u);
    EXPECT_EQ(fs::read_symlink(link), existing);
}

TEST(HostileFiles, ReplayFilesAreRefusedWithinTheirLimitsInOneLine) {
    test::TempFolder folder;
    const std::string huge = folder.file("huge.jsonl"), endless = folder.file("endless.jsonl");
    std::ofstream(huge) << kHeader << "\n";
    fs::resize_file(huge, std::uintmax_t{1} << 30); // sparse: a gigabyte of nothing
    std::ofstream(endless) << std::string(backends::kMaxTraceLine + 1, 'x');
    struct Case {
        std::string path;
        std::string complaint;
    };
    const Case cases[] = {
        {"/dev/zero", "cannot read /dev/zero: is not a regular file"},
        {huge, "huge.jsonl: larger than 64 MiB"},
        {endless, "endless.jsonl: line 1: line too long"},
    };
    for (const auto& c : cases) {
        std::ostringstream err;
        const auto started = std::chrono::steady_clock::now();
        auto replay = backends::createReplayDriver(c.path.c_str(), err);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << c.path;
        EXPECT_NE(err.str().find(c.complaint), std::string::npos) << err.str();
        EXPECT_EQ(err.str().find('\n'), err.str().size() - 1) << err.str();
    }
}

TEST(HostileFiles, TheTraceNeverOverwritesAFileUnlessAskedAndNeverTheReplay) {
    test::TempFolder folder;
    const std::string recorded = folder.file("recorded.jsonl");
    std::ofstream(recorded) << kHeader << "\n";
    struct Case {
        const char* replace;
        const char* replay;
        std::string complaint;
    };
    const Case cases[] = {
        {nullptr, nullptr, "exists already (TELMAR_TRACE_REPLACE=1 replaces it)"},
        {"1", recorded.c_str(), "is the file being replayed"},
        {"1", nullptr, ""},
    };
    for (const auto& c : cases) {
        for (const auto& [name, value] :
             {std::pair{"TELMAR_TRACE_REPLACE", c.replace}, std::pair{"TELMAR_REPLAY", c.replay}}) {
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        }
        ::setenv("TELMAR_TRACE", recorded.c_str(), 1);
        std::ostringstream err;
        backends::createDriver("replay", err).reset();
        EXPECT_EQ(c.complaint.empty(), err.str().find("TELMAR_TRACE") == std::string::npos);
        EXPECT_NE(err.str().find(c.complaint), std::string::npos) << err.str();
    }
    for (const char* name : {"TELMAR_TRACE", "TELMAR_TRACE_REPLACE", "TELMAR_REPLAY"}) {
        ::unsetenv(name);
    }
    std::ostringstream replaced;
    replaced << std::ifstream(recorded).rdbuf();
    EXPECT_NE(replaced.str().find("\"program\""), std::string::npos) << replaced.str();
}

TEST(HostileFiles, AFoldedCheckReplaysOverNoMoreThanTheLinksOwnWait) {
    auto trace = backends::parseTrace(
        kHeader + "\n" +
        R"({"t":0,"call":"checkRxQueue","handle":1,"status":0,"queued":0,"queueStatus":0,)"
        R"("repeat":2,"spanMs":4294967295})");
    ASSERT_TRUE(trace) << trace.error();
    std::uint32_t now = 0;
    std::ostringstream err;
    backends::ReplayDriver replay(*trace, err,
                                  {[&] { return now; }, [&](std::uint32_t ms) { now += ms; }});
    std::uint32_t queued = 0, status = 0;
    while (replay.unplayed() > 0 || now < 4000) {
        ASSERT_EQ(replay.checkRxQueue(1, queued, status), usb::kSuccess);
        ASSERT_LE(now, 4001u);
    }
}

TEST(HostileFiles, OutsideTextIsEscapedAndBoundedAndEveryAcceptedEntryWritesBack) {
    const std::string esc = "\x1b]0;owned\x07\x1b[2J";
    const std::string escInJson = R"(\u001b]0;owned\u0007\u001b[2J)";
    const std::string longKey = std::string(1 << 18, 'k');
    const std::string entries[] = {
        R"({"t":0,"call":")" + escInJson + longKey + R"(","status":0})",
        R"({")" + longKey + R"(":0,")" + longKey + R"(":1})",
        R"({"t":0,"call":"checkRxQueue","handle":1,"status":0,"queued":0,"queueStatus":0,)"
        R"("spanMs":5})",
    };
    for (const auto& entry : entries) {
        const auto trace = backends::parseTrace(kHeader + "\n" + entry);
        ASSERT_FALSE(trace);
        EXPECT_LT(trace.error().size(), 512u) << trace.error().substr(0, 600);
        EXPECT_EQ(trace.error().find('\x1b'), std::string::npos);
    }
    backends::TraceEntry named{.call = backends::DriverCall::GetDeviceString};
    named.text = esc;
    EXPECT_EQ(describeResult(named), R"(-> status 0, "\x1b]0;owned\x07\x1b[2J")");
}

} // namespace
