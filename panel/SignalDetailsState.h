// SPDX-License-Identifier: MIT
#pragma once

// What a signal details window shows, from the status updates the panel already gets:
// the last values read, whether they are still current, and which fields changed a
// moment ago. Fed with the same StatusUpdate as the seven lines; it never asks the box.

#include "panel/PanelCore.h"
#include "status/DetailsRows.h"
#include "status/SignalDetails.h"
#include "status/StatusUpdate.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace telmar::panel {

// Why the values shown may be old.
enum class DetailsInput {
    NoBox,    // no box open: none found yet, or it left the bus
    NoAnswer, // the poll could not read the input status block
    NoInput,  // the box answered: nothing on its HDMI input
    Signal,   // the values shown are this poll's
};

// The window's one-line notice; empty while the values are current.
std::string_view detailsNotice(DetailsInput input, Connection connection);

class SignalDetailsState {
  public:
    // How long a field that changed stays marked.
    static constexpr std::uint32_t kChangeMarkMs = 4000;

    // One status update as the shell got it, at `nowMs` on the panel's clock. Returns this
    // poll's details when the box answered the input block (what the history records),
    // else nullptr. The values shown change only when there is an input to show.
    const status::SignalDetails* take(const status::StatusUpdate& update, Connection connection,
                                      std::uint32_t nowMs);

    DetailsInput input() const { return input_; }
    Connection connection() const { return connection_; }
    // Whether the values shown are old: shown greyed.
    bool stale() const { return input_ != DetailsInput::Signal; }
    // The last values with an input; empty until the first one.
    const std::optional<status::SignalDetails>& shown() const { return shown_; }
    const status::DetailsView& view() const { return view_; }

    bool marked(std::string_view key, std::uint32_t nowMs) const;
    // Milliseconds from `nowMs` until the next mark ends; empty when none is on.
    std::optional<std::uint32_t> nextMarkEnd(std::uint32_t nowMs) const;

  private:
    void dropEndedMarks(std::uint32_t nowMs);

    DetailsInput input_ = DetailsInput::NoBox;
    Connection connection_ = Connection::Searching;
    std::optional<status::SignalDetails> latest_;
    std::optional<status::SignalDetails> shown_;
    status::DetailsView view_;
    std::map<std::string, std::uint32_t, std::less<>> marks_; // key -> tick it changed
};

} // namespace telmar::panel
