// SPDX-License-Identifier: MIT
// Every recorded session in this folder, replayed through the programs' own code:
// the calls must match the trace one for one and the user must see what the user
// saw while it was recorded (NAME.seen beside NAME.jsonl).

#include "backends/ReplayDriver.h"
#include "tests/support/VirtualClock.h"
#include "tests/traces/TraceSessions.h"

#include <QtWidgets/QApplication>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace telmar;
namespace fs = std::filesystem;

const fs::path kFolder = TELMAR_TRACE_DIR;

std::vector<std::string> traceNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kFolder)) {
        if (entry.path().extension() == ".jsonl") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

backends::Trace load(const std::string& name) {
    auto trace = backends::parseTrace(readFile(kFolder / (name + ".jsonl")));
    EXPECT_TRUE(trace) << name << ": " << trace.error();
    return trace ? *trace : backends::Trace{};
}

struct Replayed {
    std::string seen;
    std::optional<std::string> mismatch;
    std::string unplayed;
    std::string err;
};

// Replays through the program the header names, on a virtual clock.
Replayed replay(backends::Trace trace) {
    static int argc = 1;
    static char name[] = "test_trace_replay";
    static char* argv[] = {name, nullptr};
    static const bool offscreen = qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    (void)offscreen;

    link::VirtualClock clock;
    std::ostringstream err;
    Replayed r;
    const std::string program = trace.header.program;
    {
        backends::ReplayDriver driver(
            std::move(trace), err,
            {[&] { return clock.tickMs(); }, [&](std::uint32_t ms) { clock.sleepMs(ms); }});
        if (program == test::kPanelProgram) {
            std::size_t left = driver.unplayed() + 1;
            r.seen = test::runPanelSession(driver, clock, [&] {
                // Stop at a mismatch, or when an action played nothing.
                if (driver.mismatch() || driver.unplayed() == left) {
                    return test::PanelAction{test::PanelAction::Close};
                }
                left = driver.unplayed();
                return test::nextPanelAction(driver.remaining());
            });
        } else if (const auto* variant = test::updaterVariantFor(program)) {
            r.seen = test::runUpdaterSession(driver, clock, *variant);
        } else {
            ADD_FAILURE() << "no session runs the program \"" << program << "\"";
        }
        r.mismatch = driver.mismatch();
        r.unplayed = driver.unplayedReport();
    }
    r.err = err.str();
    return r;
}

class RecordedSession : public ::testing::TestWithParam<std::string> {};

TEST_P(RecordedSession, ReplaysCallForCallAndShowsWhatWasSeen) {
    const std::string name = GetParam();
    const fs::path seenFile = kFolder / (name + ".seen");
    const Replayed r = replay(load(name));
    ASSERT_TRUE(fs::exists(seenFile))
        << "write what the user saw into " << seenFile << "; the replay showed:\n"
        << r.seen;
    EXPECT_FALSE(r.mismatch) << *r.mismatch;
    EXPECT_EQ(r.unplayed, "every call played");
    EXPECT_EQ(r.seen, readFile(seenFile));
}

INSTANTIATE_TEST_SUITE_P(Traces, RecordedSession, ::testing::ValuesIn(traceNames()),
                         [](const auto& param) {
                             std::string id = param.param;
                             std::replace(id.begin(), id.end(), '-', '_');
                             return id;
                         });

// The position of the n-th entry (from 0) that `pick` accepts.
std::size_t nth(const backends::Trace& trace, std::size_t n,
                const std::function<bool(const backends::TraceEntry&)>& pick) {
    for (std::size_t i = 0; i < trace.entries.size(); ++i) {
        if (pick(trace.entries[i]) && n-- == 0) {
            return i;
        }
    }
    ADD_FAILURE() << "no such entry";
    return 0;
}

TEST(EditedSession, FailsAtTheEditedEntryWithExpectedAndActual) {
    const backends::Trace good = load("panel-startup");
    // The start-up's version request; a register write would only pick another click.
    const auto isBlockRead = [](const backends::TraceEntry& e) {
        return e.call == backends::DriverCall::Write && e.bytes.size() == 4 && e.bytes[0] == 0x11;
    };
    const auto isRead = [](const backends::TraceEntry& e) {
        return e.call == backends::DriverCall::Read;
    };
    struct Edit {
        const char* name;
        std::size_t entry;
        std::function<void(backends::Trace&, std::size_t)> apply;
        const char* detail;
    };
    const Edit edits[] = {
        {"a byte of a written frame", nth(good, 0, isBlockRead),
         [](backends::Trace& t, std::size_t i) { t.entries[i].bytes[3] = 0x0A; },
         "expected write(handle 0x51d0, 11 08 E0 0A) but the program called "
         "write(handle 0x51d0, 11 08 E0 09)"},
        {"a call removed", nth(good, 3, isRead),
         [](backends::Trace& t, std::size_t i) {
             t.entries.erase(t.entries.begin() + static_cast<std::ptrdiff_t>(i));
         },
         "but the program called read("},
    };
    for (const auto& edit : edits) {
        backends::Trace trace = good;
        edit.apply(trace, edit.entry);
        const Replayed r = replay(std::move(trace));
        ASSERT_TRUE(r.mismatch) << edit.name;
        const std::string where = "entry " + std::to_string(edit.entry + 1) + " (line " +
                                  std::to_string(edit.entry + 2) + "): ";
        EXPECT_EQ(r.mismatch->rfind(where, 0), 0u) << edit.name << ": " << *r.mismatch;
        EXPECT_NE(r.mismatch->find(edit.detail), std::string::npos)
            << edit.name << ": " << *r.mismatch;
        EXPECT_NE(r.err.find(where), std::string::npos) << edit.name << ": " << r.err;
        EXPECT_NE(r.unplayed, "every call played") << edit.name;
    }
}

} // namespace
