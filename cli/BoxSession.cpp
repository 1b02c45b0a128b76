// SPDX-License-Identifier: MIT
#include "cli/BoxSession.h"

#include "cli/Text.h"
#include "protocol/Frames.h"

#include <algorithm>
#include <ostream>

namespace telmar::cli {

StderrMessages::StderrMessages(std::ostream& err)
    : run_([&err](std::string_view text, std::string_view caption, std::uint64_t repeats) {
          err << boxLine(text, caption) << moreTimes(repeats) << std::endl;
      }) {}

void CollectedStatus::showMessage(std::string_view text, int /*timeoutMs*/) {
    texts_.emplace_back(text);
}

std::vector<std::string> CollectedStatus::take() {
    std::vector<std::string> distinct;
    for (auto& t : texts_) {
        if (std::find(distinct.begin(), distinct.end(), t) == distinct.end()) {
            distinct.push_back(std::move(t));
        }
    }
    texts_.clear();
    return distinct;
}

void applyStatus(const status::StatusUpdate& update, Snapshot& snapshot) {
    snapshot.lines.apply(update);
    const auto& read = update.blocks.read;
    // Without block 11 nothing is known; the details stay as they were, like the lines.
    if (!read[0]) {
        return;
    }
    status::SignalDetails next = status::decodeSignalDetails(update.blocks);
    if (snapshot.details && next.video.inputPresent) {
        // A block that failed this once says nothing new, as in the details window: its
        // values stay rather than flicker to null and back under --watch.
        if (!read[2]) {
            next.source = snapshot.details->source;
        }
        if (!read[3]) {
            next.hdr = snapshot.details->hdr;
        }
        if (!read[4]) {
            next.audio = snapshot.details->audio;
        }
        for (std::size_t i = 2; i < read.size(); ++i) {
            if (!read[i]) {
                next.raw[i] = snapshot.details->raw[i];
            }
        }
    }
    snapshot.details = std::move(next);
}

BoxSession::BoxSession(usb::Driver& driver, link::Clock& clock, std::ostream& err)
    : driver_(driver), messages_(err), link_(driver, clock, messages_),
      protocol_(link_, statusBar_) {}

BoxSession::~BoxSession() {
    link_.closeDevice();
    messages_.endRun();
}

BoxSession::Opened BoxSession::open(const std::string& serial) {
    serial_ = serial;
    std::uint32_t count = 0;
    if (driver_.getNumDevices(count) != usb::kSuccess) {
        return Opened::CountFailed;
    }
    std::uint32_t index = 0;
    if (!link_.findDevice(serial, index)) {
        return Opened::NotFound;
    }
    return link_.openDevice(index) ? Opened::Yes : Opened::OpenFailed;
}

std::optional<protocol::SettingsMirror> BoxSession::readSettings() {
    auto settings = readSettingsBlock();
    messages_.endRun();
    return settings;
}

std::optional<protocol::SettingsMirror> BoxSession::readSettingsBlock() {
    link::Reply reply{};
    if (!protocol_.readSettings(reply, protocol::kSettingsReplyCount) ||
        reply[0] != protocol::kSettingsEcho) {
        return std::nullopt;
    }
    protocol::SettingsMirror mirror{};
    protocol::copySettingsBlock(reply, mirror);
    return mirror;
}

Snapshot BoxSession::readSnapshot() {
    Snapshot snapshot;
    snapshot.settings = readSettingsBlock();
    link::Reply version{};
    if (protocol_.readBlock(protocol::block::Version, version, protocol::block_count::Version)) {
        snapshot.version = status::versionText(version);
    }
    applyStatus(status::readStatusUpdate(protocol_), snapshot);
    messages_.endRun();
    return snapshot;
}

bool BoxSession::reopenQuietly() {
    std::uint32_t index = 0;
    return link_.findAndOpenQuietly(serial_, index);
}

bool BoxSession::poll(Snapshot& snapshot) {
    const std::uint64_t before = link_.exchangesSucceeded();
    // A failed settings read leaves the controls, and so the settings shown, as they were.
    if (auto settings = readSettingsBlock()) {
        snapshot.settings = settings;
    }
    applyStatus(status::readStatusUpdate(protocol_), snapshot);
    messages_.endRun();
    // One answer is enough to know the box is there; one that answers nothing may only
    // be slow or faulty, so the bus decides.
    if (link_.exchangesSucceeded() != before || link_.deviceAttached(serial_)) {
        return true;
    }
    link_.releaseLostDevice();
    statusBar_.take();
    return false;
}

} // namespace telmar::cli
