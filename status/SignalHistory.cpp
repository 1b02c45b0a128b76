// SPDX-License-Identifier: MIT
#include "status/SignalHistory.h"

#include "base/Printable.h"
#include "base/Time.h"

#include <array>
#include <map>
#include <nlohmann/json.hpp>

namespace telmar::status {

namespace {

constexpr std::string_view kNotRead = "not read";

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool hdrOn(const SignalDetails& d) {
    return d.hdr && d.hdr->present && d.hdr->eotfCode.value_or(0) != 0;
}

ChangeKind kindOf(std::string_view key) {
    static constexpr std::string_view kColour[] = {
        "video.color_format", "video.colorimetry", "video.rgb_quantization",
        "video.ycc_quantization", "video.deep_color_bits"};
    static constexpr std::string_view kPicture[] = {
        "video.signalled_aspect", "video.active_format", "video.scan",   "video.bars",
        "video.it_content",       "video.content_type",  "video.scaling"};
    for (const auto k : kColour) {
        if (key == k) {
            return ChangeKind::Colour;
        }
    }
    for (const auto k : kPicture) {
        if (key == k) {
            return ChangeKind::Picture;
        }
    }
    if (key == "video.hdcp") {
        return ChangeKind::Hdcp;
    }
    if (startsWith(key, "hdr.")) {
        return ChangeKind::HdrMetadata;
    }
    if (startsWith(key, "source.")) {
        return ChangeKind::Source;
    }
    if (startsWith(key, "audio.")) {
        return ChangeKind::Audio;
    }
    return ChangeKind::Format;
}

const DetailRow* findRow(const DetailsView& view, std::string_view key) {
    for (const auto& section : view.sections) {
        for (const auto& row : section.rows) {
            if (row.key == key) {
                return &row;
            }
        }
    }
    return nullptr;
}

std::string csvField(std::string_view utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string joined(const std::vector<std::string>& keys, std::string_view separator) {
    std::string out;
    for (const auto& k : keys) {
        out += out.empty() ? "" : std::string(separator);
        out += k;
    }
    return out;
}

} // namespace

std::string_view changeKindName(ChangeKind kind) {
    static constexpr std::array<std::string_view, 11> kNames{
        "input appeared", "input lost", "format",       "colour", "picture", "HDCP",
        "HDR on",         "HDR off",    "HDR metadata", "source", "audio"};
    const auto i = static_cast<std::size_t>(kind);
    return i < kNames.size() ? kNames[i] : std::string_view("change");
}

SignalHistory::SignalHistory(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

void SignalHistory::add(std::chrono::system_clock::time_point when, ChangeKind kind,
                        std::string text, std::vector<std::string> keys) {
    if (entries_.size() == capacity_) {
        entries_.pop_front();
        ++dropped_;
    }
    entries_.push_back({when, kind, std::move(text), std::move(keys)});
}

void SignalHistory::record(std::chrono::system_clock::time_point when,
                           const SignalDetails& details) {
    if (last_ && *last_ == details) {
        return;
    }
    DetailsView view = detailsView(details);
    // A block whose read failed this time says nothing new: its rows keep their last
    // values, so a passing read failure is no change.
    for (auto& section : view.sections) {
        for (auto& row : section.rows) {
            if (const DetailRow* before = findRow(lastView_, row.key);
                before != nullptr && row.value == kNotRead) {
                row = *before;
            }
        }
    }
    const bool wasPresent = last_ && last_->video.inputPresent;
    const bool isPresent = details.video.inputPresent;
    if (wasPresent != isPresent) {
        // The rest changes with the input; the input's own entry says what arrived.
        const std::string format = formatName(details.video);
        add(when, isPresent ? ChangeKind::InputAppeared : ChangeKind::InputLost,
            isPresent ? "Input: " + (format.empty() ? std::string("present") : format)
                      : std::string("Input: absent"),
            {"video.input_present"});
    } else if (last_ && isPresent) {
        std::map<ChangeKind, std::pair<std::string, std::vector<std::string>>> groups;
        const bool hdrWasOn = hdrOn_;
        const bool hdrIsOn = details.hdr ? hdrOn(details) : hdrOn_;
        for (const auto& section : view.sections) {
            for (const auto& row : section.rows) {
                const DetailRow* before = findRow(lastView_, row.key);
                if (before == nullptr || before->value == row.value) {
                    continue;
                }
                ChangeKind kind = kindOf(row.key);
                if (kind == ChangeKind::HdrMetadata && hdrWasOn != hdrIsOn) {
                    kind = hdrIsOn ? ChangeKind::HdrOn : ChangeKind::HdrOff;
                }
                auto& [text, keys] = groups[kind];
                text += text.empty() ? "" : "; ";
                text += std::string(row.label) + ": " + before->value + " -> " + row.value;
                keys.push_back(row.key);
            }
        }
        for (auto& [kind, group] : groups) {
            add(when, kind, std::move(group.first), std::move(group.second));
        }
    }
    if (details.hdr) {
        hdrOn_ = hdrOn(details);
    }
    last_ = details;
    lastView_ = std::move(view);
}

void SignalHistory::writeCsv(std::ostream& out) const {
    out << "time,event,change,keys\n";
    for (const auto& e : entries_) {
        out << base::isoTime(e.time) << ',' << csvField(changeKindName(e.kind)) << ','
            << csvField(base::latin1ToUtf8(e.text)) << ',' << csvField(joined(e.keys, " ")) << '\n';
    }
}

void SignalHistory::writeJsonLines(std::ostream& out) const {
    for (const auto& e : entries_) {
        const nlohmann::json line = {{"time", base::isoTime(e.time)},
                                     {"event", changeKindName(e.kind)},
                                     {"change", base::latin1ToUtf8(e.text)},
                                     {"keys", e.keys}};
        out << line.dump() << '\n';
    }
}

} // namespace telmar::status
