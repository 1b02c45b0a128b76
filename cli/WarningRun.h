// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace telmar::cli {

// A link that meets a failing box shows the same box thousands of times a second; a
// window shows one at a time, a terminal would get them all. The first of a run is
// shown, the rest only counted, and when something else is shown the count is said once.
class WarningRun {
  public:
    // True when this warning repeats the one shown last: counted, not to be shown.
    bool repeats(std::string_view text, std::string_view caption) {
        if (open_ && text == text_ && caption == caption_) {
            ++repeats_;
            return true;
        }
        return false;
    }
    // A warning being shown starts a run.
    void start(std::string_view text, std::string_view caption) {
        text_ = text;
        caption_ = caption;
        repeats_ = 0;
        open_ = true;
    }
    // Ends the run: how many repeats were not shown (0: nothing to say).
    std::uint64_t end() {
        open_ = false;
        return std::exchange(repeats_, 0);
    }
    const std::string& text() const { return text_; }
    const std::string& caption() const { return caption_; }

  private:
    std::string text_;
    std::string caption_;
    std::uint64_t repeats_ = 0;
    bool open_ = false;
};

// " (N more times)", said after a run's warning when it ends.
inline std::string moreTimes(std::uint64_t repeats) {
    return " (" + std::to_string(repeats) + " more time" + (repeats == 1 ? ")" : "s)");
}

} // namespace telmar::cli
