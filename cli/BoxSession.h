// SPDX-License-Identifier: MIT
#pragma once

#include "cli/WarningRun.h"
#include "link/Clock.h"
#include "link/Messages.h"
#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "protocol/Settings.h"
#include "status/StatusUpdate.h"
#include "usb/Driver.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace telmar::cli {

// Boxes the link would show go to standard error as one line each; a run of the same
// box as its first line and, when the run ends, one line with the count.
class StderrMessages final : public link::MessageSink {
  public:
    explicit StderrMessages(std::ostream& err);
    ~StderrMessages() override { endRun(); }
    StderrMessages(const StderrMessages&) = delete;
    StderrMessages& operator=(const StderrMessages&) = delete;
    void showWarning(std::string_view text, std::string_view caption) override {
        run_.show(text, caption);
    }
    void endRun() { run_.end(); }

  private:
    WarningRun run_;
};

// The status bar of a terminal: the texts a request shows when it fails. They are
// kept until taken, so a poll that fails in five reads says so once.
class CollectedStatus final : public protocol::StatusSink {
  public:
    void showMessage(std::string_view text, int timeoutMs) override;
    bool empty() const { return texts_.empty(); }
    // Each distinct text once, in the order first shown; clears the list.
    std::vector<std::string> take();

  private:
    std::vector<std::string> texts_;
};

using status::StatusLines;

// Everything `status` shows.
struct Snapshot {
    std::string version; // "ver: ..." (Latin-1), empty when the version block could not be read
    StatusLines lines;
    std::optional<protocol::SettingsMirror> settings; // nullopt when the read failed
    // Blocks 11 to 15 decoded; nullopt until the input status block has been read.
    std::optional<status::SignalDetails> details;
    bool operator==(const Snapshot&) const = default;
};

// Applies one status update as the panel does: the seven lines, and the details.
void applyStatus(const status::StatusUpdate& update, Snapshot& snapshot);

// One box, found by its serial string and opened, with the control panel's link and
// requests on it. Closed when this goes.
class BoxSession {
  public:
    BoxSession(usb::Driver& driver, link::Clock& clock, std::ostream& err);
    ~BoxSession();
    BoxSession(const BoxSession&) = delete;
    BoxSession& operator=(const BoxSession&) = delete;

    // CountFailed: the devices could not even be counted, so whether a box is there is
    // not known (the driver's reachProblem() says why).
    enum class Opened { Yes, NotFound, OpenFailed, CountFailed };
    Opened open(const std::string& serial);
    // The search of a session whose box has left: no box lines, no count check.
    bool reopenQuietly();
    // Ends the exchange in flight and fails every later one at once; for a time limit.
    void abandon() { link_.abandon(); }

    protocol::ControlProtocol& protocol() { return protocol_; }
    CollectedStatus& statusBar() { return statusBar_; }

    // The settings block, as the panel's settings sync reads it; nullopt on failure.
    std::optional<protocol::SettingsMirror> readSettings();
    // The start-up reads of the panel: settings, version, status.
    Snapshot readSnapshot();
    // One poll tick of the panel: settings, then status, applied to `snapshot`. False
    // when every request failed and the box is no longer on the bus, as the panel
    // decides it; the box is let go then and its failures are dropped.
    bool poll(Snapshot& snapshot);

  private:
    std::optional<protocol::SettingsMirror> readSettingsBlock();

    usb::Driver& driver_;
    std::string serial_;
    StderrMessages messages_;
    link::PanelLink link_;
    CollectedStatus statusBar_;
    protocol::ControlProtocol protocol_;
};

} // namespace telmar::cli
