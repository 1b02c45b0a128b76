// SPDX-License-Identifier: MIT
// The USB trace reader on hostile text: a clear error or a trace that writes back to
// itself, and a replay of whatever it accepted that serves each entry within bounds.

#include "backends/ReplayDriver.h"
#include "backends/TraceFormat.h"
#include "tests/fuzz/FuzzCheck.h"

#include <array>
#include <sstream>
#include <string>

namespace {

using namespace telmar;
using backends::DriverCall;

// Makes the call an entry records, with its own arguments, so the replay serves it.
void callAsRecorded(usb::Driver& d, const backends::TraceEntry& e) {
    std::array<std::uint8_t, 1024> buffer{};
    char text[usb::kDeviceStringSize];
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    usb::Handle h = 0;
    switch (e.call) {
    case DriverCall::GetNumDevices:
        d.getNumDevices(a);
        break;
    case DriverCall::GetDeviceString:
        d.getDeviceString(e.index, text, e.option);
        FUZZ_CHECK(e.status != usb::kSuccess || std::string(text).size() < sizeof text);
        break;
    case DriverCall::Open:
        d.open(e.index, h);
        break;
    case DriverCall::Close:
        d.close(e.handle);
        break;
    case DriverCall::Read:
        // Never more than the buffer holds, whatever the entry claims.
        d.read(e.handle, buffer.data(), std::min<std::uint32_t>(e.count, buffer.size()), a);
        break;
    case DriverCall::Write:
        d.write(e.handle, e.bytes.data(), static_cast<std::uint32_t>(e.bytes.size()), a);
        break;
    case DriverCall::Flush:
        d.flushBuffers(e.handle, e.flushTransmit, e.flushReceive);
        break;
    case DriverCall::SetTimeouts:
        d.setTimeouts(e.readMs, e.writeMs);
        break;
    case DriverCall::GetTimeouts:
        d.getTimeouts(a, b);
        break;
    case DriverCall::CheckRxQueue:
        d.checkRxQueue(e.handle, a, b);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = backends::parseTrace(text);
    if (!parsed) {
        const std::string& error = parsed.error();
        FUZZ_CHECK(error.rfind("line ", 0) == 0 || error.rfind("empty trace", 0) == 0);
        FUZZ_CHECK(error.size() < 512);
        return 0;
    }
    backends::Trace trace = std::move(*parsed);

    // What was accepted writes back to a trace that reads the same.
    std::string again = backends::formatHeader(trace.header) + "\n";
    for (const auto& e : trace.entries) {
        again += backends::formatEntry(e) + "\n";
    }
    const auto reread = backends::parseTrace(again);
    FUZZ_CHECK(reread && reread->entries == trace.entries);

    // A program that makes exactly the recorded calls plays the trace to its end (runs
    // of queue checks are served by time, so only where there are none).
    bool folded = false;
    for (const auto& e : trace.entries) {
        folded = folded || e.repeat > 1;
    }
    std::uint32_t now = 0;
    std::ostringstream err;
    const std::size_t entries = std::min<std::size_t>(trace.entries.size(), 256);
    trace.entries.resize(entries);
    const auto calls = trace.entries;
    backends::ReplayDriver replay(std::move(trace), err,
                                  {[&] { return now; }, [&](std::uint32_t ms) { now += ms; }});
    for (const auto& e : calls) {
        if (e.call == DriverCall::Read && e.count > 1024) {
            return 0;
        }
        callAsRecorded(replay, e);
    }
    FUZZ_CHECK(folded || !replay.mismatch());
    return 0;
}
