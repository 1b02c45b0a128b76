// SPDX-License-Identifier: MIT
#include "backends/ReplayDriver.h"
#include "backends/TraceRecorder.h"
#include "base/Log.h"
#include "link/PanelLink.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/ScriptedDriver.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace telmar;
using namespace telmar::backends;
using test::Call;

// What a caller sees of one driver call: its status and every out value.
struct Seen {
    std::string call;
    usb::Status status;
    std::vector<std::uint64_t> outs;
    std::vector<std::uint8_t> bytes;
    std::string text;
    bool operator==(const Seen&) const = default;
};

// One call of every driver function, with the handle the open gave.
std::vector<Seen> everyFunction(usb::Driver& d) {
    std::vector<Seen> seen;
    std::uint32_t n = 99;
    seen.push_back({"count", d.getNumDevices(n), {n}, {}, {}});
    char text[usb::kDeviceStringSize] = "untouched";
    seen.push_back({"string", d.getDeviceString(0, text, usb::kStringSerialNumber), {}, {}, text});
    usb::Handle h = 0x77;
    seen.push_back({"open", d.open(0, h), {h}, {}, {}});
    std::uint32_t queued = 99;
    std::uint32_t queueStatus = 99;
    const std::uint8_t frame[] = {0x11, 0x08, 0xE0, 0x09};
    std::uint32_t written = 99;
    seen.push_back({"write", d.write(h, frame, sizeof frame, written), {written}, {}, {}});
    seen.push_back(
        {"check", d.checkRxQueue(h, queued, queueStatus), {queued, queueStatus}, {}, {}});
    std::uint8_t reply[64] = {};
    std::uint32_t got = 99;
    const usb::Status readStatus = d.read(h, reply, sizeof reply, got);
    seen.push_back(
        {"read", readStatus, {got}, {reply, reply + std::min<std::uint32_t>(got, 64)}, {}});
    seen.push_back({"flush", d.flushBuffers(h, 1, 1), {}, {}, {}});
    seen.push_back({"set", d.setTimeouts(4000, 0), {}, {}, {}});
    std::uint32_t readMs = 99;
    std::uint32_t writeMs = 99;
    seen.push_back({"get", d.getTimeouts(readMs, writeMs), {readMs, writeMs}, {}, {}});
    seen.push_back({"close", d.close(h), {}, {}, {}});
    return seen;
}

struct Recorded {
    std::vector<Seen> seen;
    std::string text;
};

// Runs `session` through a recorder around `inner` and returns what it saw and the file.
template <typename Session>
Recorded record(std::unique_ptr<usb::Driver> inner, link::VirtualClock& clock, Session session) {
    std::ostringstream file;
    std::vector<std::unique_ptr<EntrySink>> sinks;
    sinks.push_back(std::make_unique<TraceWriter>(file, TraceHeader{.program = "test"}));
    Recorded r;
    {
        TraceRecorder recorder(std::move(inner), std::move(sinks), [&] { return clock.tickMs(); });
        r.seen = session(recorder);
    }
    r.text = file.str();
    return r;
}

Trace parsed(const std::string& text) {
    auto trace = parseTrace(text);
    EXPECT_TRUE(trace) << trace.error();
    return trace ? *trace : Trace{};
}

ReplayClock clockOf(link::VirtualClock& clock) {
    return {[&] { return clock.tickMs(); }, [&](std::uint32_t ms) { clock.sleepMs(ms); }};
}

std::unique_ptr<test::ScriptedDriver> scriptedBox(link::VirtualClock& clock) {
    auto d = std::make_unique<test::ScriptedDriver>(clock);
    d->addDevice("2031");
    d->setResponder([](std::span<const std::uint8_t>) {
        return test::ScriptedReply{{0xE0, 0x00, 1, 0, 2, 3, 0, 5, 0xFF}};
    });
    return d;
}

TEST(TraceRoundTrip, ReplayGivesEveryFunctionTheRecordedResultForEveryStatus) {
    const Call all[] = {Call::GetNumDevices, Call::GetDeviceString, Call::Open,  Call::Close,
                        Call::Read,          Call::Write,           Call::Flush, Call::SetTimeouts,
                        Call::GetTimeouts,   Call::CheckRxQueue};
    for (usb::Status status = usb::kSuccess; status <= usb::kLibraryMissing; ++status) {
        link::VirtualClock clock;
        auto box = scriptedBox(clock);
        if (status != usb::kSuccess) {
            for (const Call c : all) {
                box->failCall(c, -1, status);
            }
        }
        const Recorded r = record(std::move(box), clock, everyFunction);
        std::ostringstream err;
        ReplayDriver replay(parsed(r.text), err, clockOf(clock));
        EXPECT_EQ(everyFunction(replay), r.seen) << "status " << status << "\n" << r.text;
        EXPECT_FALSE(replay.mismatch()) << *replay.mismatch();
        EXPECT_EQ(replay.unplayed(), 0u);
        if (status == usb::kSuccess) {
            EXPECT_EQ(r.seen[4].outs[0], 9u) << "the reply was queued";
            EXPECT_EQ(r.seen[5].bytes.size(), 9u) << "and read";
        }
    }
}

// A panel exchange whose reply never comes waits 4000 ms in thousands of checks.
TEST(TraceRoundTrip, AWaitIsOneLineAndReplaysOverTheSameTime) {
    link::VirtualClock clock;
    auto box = std::make_unique<test::ScriptedDriver>(clock);
    box->addDevice("2031");
    box->queueNoReply();
    box->queueReply({0xE0, 0x00}, 30);
    const auto session = [&](usb::Driver& d) {
        test::RecordingMessages messages;
        link::PanelLink panel(d, clock, messages);
        std::uint32_t index = 0;
        std::vector<Seen> seen;
        const bool found = panel.findDevice("2031", index) && panel.openDevice(index);
        const std::uint8_t frame[] = {0x10, 0x04, 0xE0, 0x00, 0x00};
        for (int i = 0; i < 2; ++i) {
            link::Reply reply{};
            const std::uint32_t start = clock.tickMs();
            const bool ok = panel.exchange(frame, reply, 2);
            seen.push_back({"exchange", ok ? 0u : 1u, {clock.tickMs() - start}, {}, {}});
        }
        panel.closeDevice();
        seen.push_back({"found", found ? 0u : 1u, {}, {}, {}});
        return seen;
    };
    const Recorded r = record(std::move(box), clock, session);
    ASSERT_EQ(r.seen[0].status, 1u);
    ASSERT_EQ(r.seen[1].status, 0u);
    std::size_t checkLines = 0;
    std::istringstream lines(r.text);
    for (std::string line; std::getline(lines, line);) {
        checkLines += line.find("checkRxQueue") != std::string::npos ? 1 : 0;
    }
    // The wait, then for the answered one: some empty checks and the one that found bytes.
    EXPECT_EQ(checkLines, 3u) << r.text;

    std::ostringstream err;
    ReplayDriver replay(parsed(r.text), err, clockOf(clock));
    const auto replayed = session(replay);
    ASSERT_EQ(replayed.size(), r.seen.size());
    EXPECT_FALSE(replay.mismatch()) << *replay.mismatch();
    EXPECT_EQ(replay.unplayed(), 0u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(replayed[i].status, r.seen[i].status);
        EXPECT_NEAR(double(replayed[i].outs[0]), double(r.seen[i].outs[0]), 3.0) << i;
    }
}

// A recorded panel session edited by hand must fail at the edited entry.
TEST(TraceReplay, AnEditedTraceFailsAtTheEntryAndEveryCallAfter) {
    link::VirtualClock clock;
    const Recorded r = record(scriptedBox(clock), clock, everyFunction);
    const Trace good = parsed(r.text);
    // Entries: count, string, open, write (4), check, read, flush, set, get, close.
    struct Edit {
        const char* name;
        std::function<void(Trace&)> apply;
        const char* message;
    };
    const Edit edits[] = {
        {"one written byte changed", [](Trace& t) { t.entries[3].bytes[3] = 0x0A; },
         "entry 4 (line 5): expected write(handle 0x1000, 11 08 E0 0A) but the program called "
         "write(handle 0x1000, 11 08 E0 09)"},
        {"one call removed", [](Trace& t) { t.entries.erase(t.entries.begin() + 6); },
         "entry 7 (line 8): expected setTimeouts(read 4000 ms, write 0 ms) but the program called "
         "flush(handle 0x1000, 1, 1)"},
        {"a call too many", [](Trace& t) { t.entries.pop_back(); },
         "the program called close(handle 0x1000) after the last entry (9)"},
    };
    for (const auto& edit : edits) {
        Trace trace = good;
        edit.apply(trace);
        std::ostringstream err;
        link::VirtualClock replayClock;
        ReplayDriver replay(std::move(trace), err, clockOf(replayClock));
        const auto seen = everyFunction(replay);
        ASSERT_TRUE(replay.mismatch()) << edit.name;
        EXPECT_NE(replay.mismatch()->find(edit.message), std::string::npos)
            << edit.name << ": " << *replay.mismatch();
        EXPECT_NE(err.str().find(edit.message), std::string::npos) << edit.name;
        EXPECT_NE(seen.back().status, usb::kSuccess) << edit.name << ": later calls fail too";
        if (&edit == &edits[0]) { // what a refused call hands back: nothing, timeouts untouched
            using Outs = std::vector<std::uint64_t>;
            EXPECT_EQ(seen[3].outs, Outs{0});
            EXPECT_EQ(seen[4].outs, (Outs{0, 0}));
            EXPECT_EQ(seen[5].outs, Outs{0});
            EXPECT_EQ(seen[8].outs, (Outs{99, 99}));
        }
    }
    // Calls the program never made are named at the end.
    std::ostringstream err;
    {
        link::VirtualClock replayClock;
        ReplayDriver replay(good, err, clockOf(replayClock));
        std::uint32_t n = 0;
        replay.getNumDevices(n);
        EXPECT_EQ(replay.unplayedReport(),
                  "9 calls left unplayed, from entry 2 (line 3): getDeviceString(index 0, "
                  "option 0)");
    }
    EXPECT_NE(err.str().find("9 calls left unplayed"), std::string::npos);
}

TEST(TraceFormat, HostileTracesGiveALineNumberedError) {
    const std::string header =
        R"({"format":"telmar-usb-trace","version":1,"program":"p","backend":"sim"})";
    const std::string okEntry = R"({"t":0,"call":"getNumDevices","status":0,"devices":1})";
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {"", "empty trace"},
        {"not json", "line 1: expected '{'"},
        {R"({"format":"something else","version":1})", "line 1: not a telmar USB trace"},
        {R"({"format":"telmar-usb-trace","version":2})", "line 1: trace format version 2"},
        {header + "\n" + R"({"t":0,"call":"reboot","status":0})", "line 2: unknown call"},
        {header + "\n" + R"({"t":0,"call":"getNumDevices","status":0})",
         "line 2: \"devices\" missing"},
        {header + "\n" + R"({"t":0,"call":"getNumDevices","status":-1,"devices":1})",
         "line 2: bad value for \"status\""},
        {header + "\n" + R"({"t":0,"call":"getNumDevices","status":4294967296,"devices":1})",
         "line 2: \"status\" is not a number in range"},
        {header + "\n" + okEntry + "\n" +
             R"({"t":0,"call":"write","handle":1,"data":"1 0","status":0,"written":2})",
         "line 3: \"data\" is not hexadecimal"},
        {header + "\n" +
             R"({"t":0,"call":"read","handle":1,"count":1,"status":0,"read":2,"data":"0102"})",
         "line 2: \"data\" holds more bytes"},
        {header + "\n" + R"({"t":0,"t":1,"call":"close","handle":1,"status":0})",
         "line 2: \"t\" given twice"},
        {header + "\n" +
             R"({"t":0,"call":"getDeviceString","index":0,"option":0,"status":0,)"
             R"("string":"\u0100"})",
         "line 2: bad value for \"string\""},
        {header + "\n" +
             R"({"t":0,"call":"checkRxQueue","handle":1,"status":0,"queued":0,)"
             R"("queueStatus":0,"repeat":0})",
         "line 2: \"repeat\" must be at least 1"},
        {header + "\n" + okEntry + " trailing", "line 2: text after the object"},
        {header + "\n" + R"({"t":0,"call":"close","handle":1,"status":0)", "line 2: expected"},
    };
    for (const auto& c : cases) {
        const auto trace = parseTrace(c.text);
        EXPECT_FALSE(trace) << c.text;
        EXPECT_EQ(trace.error().rfind(c.error, 0), 0u) << c.text << "\n -> " << trace.error();
    }
}

TEST(TraceFormat, EveryFieldSurvivesWritingAndReading) {
    TraceEntry odd{.call = DriverCall::GetDeviceString, .index = 3, .option = 2};
    odd.text = std::string("Caf\xE9 \"box\"\\\n", 13);
    odd.status = 7;
    odd.error = "getDeviceString: LIBUSB_ERROR_PIPE";
    odd.atMs = 4294967295u;
    TraceEntry checks{.call = DriverCall::CheckRxQueue, .handle = usb::kNoHandle};
    checks.repeat = 3999;
    checks.spanMs = 3998;
    checks.queueStatus = 2;
    const TraceHeader header{.program = "LUMORA_GUI", .backend = "usb", .simulatedBox = true};
    const std::string text =
        formatHeader(header) + "\n" + formatEntry(odd) + "\n" + formatEntry(checks) + "\n";
    const Trace trace = parsed(text);
    EXPECT_EQ(trace.header.program, "LUMORA_GUI");
    EXPECT_TRUE(trace.header.simulatedBox);
    ASSERT_EQ(trace.entries.size(), 2u);
    EXPECT_EQ(trace.entries[0], odd);
    EXPECT_EQ(trace.entries[1], checks);
}

// Records log lines instead of printing them.
struct LogLines final : base::LogSink {
    std::vector<std::string> lines;
    bool enabled(base::LogArea) const override { return true; }
    void write(base::LogArea area, std::string_view m) override {
        lines.push_back(std::string(base::logAreaName(area)) + ": " + std::string(m));
    }
};

TEST(DebugLog, DriverCallsAreLoggedWithTheirBytesAndNothingWhenOff) {
    LogLines log;
    link::VirtualClock clock;
    const auto run = [&] {
        std::vector<std::unique_ptr<EntrySink>> sinks;
        sinks.push_back(std::make_unique<LogEntrySink>());
        auto box = scriptedBox(clock);
        box->failCall(Call::Close, 1, usb::kDeviceNotFound);
        TraceRecorder recorder(std::move(box), std::move(sinks), [&] { return clock.tickMs(); });
        everyFunction(recorder);
    };
    run();
    EXPECT_TRUE(log.lines.empty());
    base::setLogSink(&log);
    run();
    base::setLogSink(nullptr);
    std::string all;
    for (const auto& l : log.lines) {
        all += l + "\n";
    }
    EXPECT_EQ(all,
              "usb: getNumDevices() -> status 0, 1 devices\n"
              "usb: getDeviceString(index 0, option 0) -> status 0, \"2031\"\n"
              "usb: open(index 0) -> status 0, handle 0x1000\n"
              "usb: write(handle 0x1000, 11 08 E0 09) -> status 0, 4 written\n"
              "usb: checkRxQueue(handle 0x1000) -> status 0, 9 queued\n"
              "usb: read(handle 0x1000, 64 bytes) -> status 0, 9 read: E0 00 01 00 02 03 00 05 FF\n"
              "usb: flush(handle 0x1000, 1, 1) -> status 0\n"
              "usb: setTimeouts(read 4000 ms, write 0 ms) -> status 0\n"
              "usb: getTimeouts() -> status 0, read 4000 ms, write 0 ms\n"
              "usb: close(handle 0x1000) -> status 7\n");
}

} // namespace
