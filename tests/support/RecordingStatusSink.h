// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/ControlProtocol.h"

#include <string>
#include <vector>

namespace telmar::test {

struct ShownStatus {
    std::string text;
    int timeoutMs;
    bool operator==(const ShownStatus&) const = default;
};

// Records every status-bar message instead of showing it.
class RecordingStatusSink final : public protocol::StatusSink {
  public:
    void showMessage(std::string_view text, int timeoutMs) override {
        shown.push_back({std::string(text), timeoutMs});
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& s : shown) {
            result.push_back(s.text);
        }
        return result;
    }
    std::vector<ShownStatus> shown;
};

} // namespace telmar::test
