// SPDX-License-Identifier: MIT
#pragma once

#include "link/Messages.h"

#include <mutex>
#include <string>
#include <vector>

namespace telmar::test {

struct ShownWarning {
    std::string text;
    std::string caption;
    bool operator==(const ShownWarning&) const = default;
};

struct DrawnLine {
    std::string text;
    int y;
    bool operator==(const DrawnLine&) const = default;
};

// Records every warning box and drawn line instead of showing it.
class RecordingMessages final : public link::MessageSink, public link::LineSink {
  public:
    void showWarning(std::string_view text, std::string_view caption) override {
        std::lock_guard lock(mutex_);
        warnings_.push_back({std::string(text), std::string(caption)});
    }
    void drawStatusLine(std::string_view text, int y) override {
        std::lock_guard lock(mutex_);
        lines_.push_back({std::string(text), y});
    }
    std::vector<ShownWarning> warnings() const {
        std::lock_guard lock(mutex_);
        return warnings_;
    }
    std::vector<DrawnLine> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> warningTexts() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> texts;
        for (const auto& w : warnings_) {
            texts.push_back(w.text);
        }
        return texts;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        warnings_.clear();
        lines_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<ShownWarning> warnings_;
    std::vector<DrawnLine> lines_;
};

} // namespace telmar::test
