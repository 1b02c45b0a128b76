// SPDX-License-Identifier: MIT
#pragma once

#include "base/Result.h"
#include "usb/Driver.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// A recorded USB session: one JSON object per line, a header line first, then one
// line per driver call (docs/TRACE_FORMAT.md).
namespace telmar::backends {

inline constexpr std::string_view kTraceFormatName = "telmar-usb-trace";
inline constexpr int kTraceFormatVersion = 1;

enum class DriverCall : std::uint8_t {
    GetNumDevices,
    GetDeviceString,
    Open,
    Close,
    Read,
    Write,
    Flush,
    SetTimeouts,
    GetTimeouts,
    CheckRxQueue,
};

std::string_view callName(DriverCall call);

struct TraceHeader {
    int version = kTraceFormatVersion;
    std::string program{};
    std::string backend{};
    std::string started{};     // UTC, ISO 8601
    bool simulatedBox = false; // recorded from the simulated box
};

// One driver call with its arguments and results, or a run of back-to-back
// receive-queue checks that all gave the same result.
struct TraceEntry {
    DriverCall call = DriverCall::GetNumDevices;

    // Arguments.
    std::uint32_t index = 0;             // getDeviceString, open
    std::uint32_t option = 0;            // getDeviceString
    usb::Handle handle = usb::kNoHandle; // close, read, write, flush, checkRxQueue; open's result
    std::uint32_t count = 0;             // read: bytes asked for
    std::uint8_t flushTransmit = 0;      // flush
    std::uint8_t flushReceive = 0;       // flush
    std::uint32_t readMs = 0;            // setTimeouts; getTimeouts' result
    std::uint32_t writeMs = 0;           // setTimeouts; getTimeouts' result
    std::vector<std::uint8_t> bytes{};   // write: the bytes given; read: the bytes delivered

    // Results.
    usb::Status status = usb::kSuccess;
    std::uint32_t number = 0;      // devices counted, bytes read, bytes written or bytes queued
    std::uint32_t queueStatus = 0; // checkRxQueue
    std::string text{};            // getDeviceString
    std::string error{};           // the backend's own words for a failure

    // Time since the session began, of the first call.
    std::uint32_t atMs = 0;
    // checkRxQueue only: how many calls the entry stands for, first to last in spanMs.
    std::uint32_t repeat = 1;
    std::uint32_t spanMs = 0;

    bool operator==(const TraceEntry&) const = default;
};

// The same call with the same arguments: what a replay matches on.
bool sameCall(const TraceEntry& expected, const TraceEntry& actual);
// The same results, apart from time and error text.
bool sameResult(const TraceEntry& a, const TraceEntry& b);

// "write(handle 0x51d0, 10 04 E0 00 00)" and "-> status 0, 5 written".
std::string describeCall(const TraceEntry& entry);
std::string describeResult(const TraceEntry& entry);

struct Trace {
    TraceHeader header;
    std::vector<TraceEntry> entries;
};

// One line each, without the newline. Entry k (from 1) is line k + 1.
std::string formatHeader(const TraceHeader& header);
std::string formatEntry(const TraceEntry& entry);

// Limits a trace must keep; anything beyond is refused, not truncated, and before
// more than one line is held.
inline constexpr std::size_t kMaxTraceBytes = std::size_t{64} << 20;
inline constexpr std::size_t kMaxTraceLine = 1 << 20;
inline constexpr std::size_t kMaxTraceEntries = 1 << 20;
inline constexpr std::size_t kMaxEntryBytes = 1 << 16;

// Reads a trace a line at a time. Errors read "line N: what is wrong".
class TraceParser {
  public:
    // The next line, without its newline; false once a line was wrong.
    bool take(std::string_view line);
    // The trace, or the first error ("empty trace: no header line" for no header).
    base::Result<Trace> finish();

  private:
    Trace trace_;
    std::size_t lineNumber_ = 0;
    bool haveHeader_ = false;
    std::string error_;
};

base::Result<Trace> parseTrace(std::string_view text);
// The same from a file, read as a stream: one over kMaxTraceBytes is refused.
base::Result<Trace> readTrace(std::FILE* file);

} // namespace telmar::backends
