// SPDX-License-Identifier: MIT
#include "panel/SignalDetailsState.h"

#include <algorithm>

namespace telmar::panel {

std::string_view detailsNotice(DetailsInput input, Connection connection) {
    switch (input) {
    case DetailsInput::NoBox:
        return connection == Connection::Disconnected ? kDisconnectedText
                                                      : std::string_view("No TELMAR connected");
    case DetailsInput::NoAnswer:
        return "TELMAR does not answer";
    case DetailsInput::NoInput:
        return "No input signal";
    case DetailsInput::Signal:
        break;
    }
    return {};
}

const status::SignalDetails* SignalDetailsState::take(const status::StatusUpdate& update,
                                                      Connection connection, std::uint32_t nowMs) {
    connection_ = connection;
    dropEndedMarks(nowMs);
    if (connection != Connection::Connected) {
        input_ = DetailsInput::NoBox;
        return nullptr;
    }
    // Block 11 says whether there is an input at all; without it nothing is known.
    if (!update.blocks.read[0]) {
        input_ = DetailsInput::NoAnswer;
        return nullptr;
    }
    latest_ = status::decodeSignalDetails(update.blocks);
    if (!latest_->video.inputPresent) {
        input_ = DetailsInput::NoInput;
        return &*latest_;
    }
    input_ = DetailsInput::Signal;
    status::SignalDetails next = *latest_;
    if (shown_) {
        // A block whose read failed this once says nothing new: its values stay, unmarked,
        // rather than flicker to "not read" and back.
        const auto& read = update.blocks.read;
        if (!read[2]) {
            next.source = shown_->source;
        }
        if (!read[3]) {
            next.hdr = shown_->hdr;
        }
        if (!read[4]) {
            next.audio = shown_->audio;
        }
        for (std::size_t i = 2; i < read.size(); ++i) {
            if (!read[i]) {
                next.raw[i] = shown_->raw[i];
            }
        }
    }
    if (shown_ && *shown_ == next) {
        return &*latest_;
    }
    if (shown_) {
        for (std::string& key : status::changedKeys(*shown_, next)) {
            marks_.insert_or_assign(std::move(key), nowMs);
        }
    }
    shown_ = std::move(next);
    view_ = status::detailsView(*shown_);
    return &*latest_;
}

bool SignalDetailsState::marked(std::string_view key, std::uint32_t nowMs) const {
    const auto it = marks_.find(key);
    // Wrapping subtraction: the panel's tick wraps at 2^32 ms.
    return it != marks_.end() && nowMs - it->second < kChangeMarkMs;
}

std::optional<std::uint32_t> SignalDetailsState::nextMarkEnd(std::uint32_t nowMs) const {
    std::optional<std::uint32_t> next;
    for (const auto& [key, at] : marks_) {
        const std::uint32_t age = nowMs - at;
        if (age < kChangeMarkMs) {
            next = std::min(next.value_or(kChangeMarkMs), kChangeMarkMs - age);
        }
    }
    return next;
}

void SignalDetailsState::dropEndedMarks(std::uint32_t nowMs) {
    std::erase_if(marks_,
                  [nowMs](const auto& mark) { return nowMs - mark.second >= kChangeMarkMs; });
}

} // namespace telmar::panel
