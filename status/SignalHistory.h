// SPDX-License-Identifier: MIT
#pragma once

// What changed in the input signal, poll by poll, from the start: bounded, and nothing
// is computed while the details stay equal.

#include "status/DetailsRows.h"
#include "status/SignalDetails.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace telmar::status {

enum class ChangeKind : std::uint8_t {
    InputAppeared,
    InputLost,
    Format,
    Colour,
    Picture, // active format, bars, scan, content type, scaling
    Hdcp,
    HdrOn,
    HdrOff,
    HdrMetadata,
    Source,
    Audio,
};
std::string_view changeKindName(ChangeKind kind); // "input appeared", "HDR metadata" ...

struct HistoryEntry {
    std::chrono::system_clock::time_point time;
    ChangeKind kind = ChangeKind::Format;
    std::string text; // "Format: 1920x1080p60 -> 3840x2160p60", Latin-1
    std::vector<std::string> keys;
};

class SignalHistory {
  public:
    static constexpr std::size_t kDefaultCapacity = 10000;
    explicit SignalHistory(std::size_t capacity = kDefaultCapacity);

    // One poll's details, stamped with the caller's clock. The first poll records the
    // input appearing when there is one; the oldest entries go past the capacity.
    void record(std::chrono::system_clock::time_point when, const SignalDetails& details);

    const std::deque<HistoryEntry>& entries() const { return entries_; }
    std::size_t dropped() const { return dropped_; }

    // UTF-8, one line per entry: "time,event,change,keys" with a header line.
    void writeCsv(std::ostream& out) const;
    // UTF-8, one JSON object per line: {"time", "event", "change", "keys"}.
    void writeJsonLines(std::ostream& out) const;

  private:
    void add(std::chrono::system_clock::time_point when, ChangeKind kind, std::string text,
             std::vector<std::string> keys);

    std::size_t capacity_;
    std::deque<HistoryEntry> entries_;
    std::size_t dropped_ = 0;
    std::optional<SignalDetails> last_;
    DetailsView lastView_;
    bool hdrOn_ = false; // as last read
};

} // namespace telmar::status
