// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace telmar::cli {

// A link that meets a failing box shows the same box thousands of times a second; a
// window shows one at a time, a terminal would get them all. The first of a run is
// shown, the rest only counted, and when something else is shown the count is said once.
class WarningRun {
  public:
    // Shows one warning: the first of a run with 0 repeats, at its end with the count.
    using Show =
        std::function<void(std::string_view text, std::string_view caption, std::uint64_t repeats)>;
    explicit WarningRun(Show show) : show_(std::move(show)) {}

    // Shows the warning and starts a run, unless it repeats the one shown last: that
    // is only counted.
    void show(std::string_view text, std::string_view caption) {
        if (open_ && text == text_ && caption == caption_) {
            ++repeats_;
            return;
        }
        end();
        show_(text, caption, 0);
        text_ = text;
        caption_ = caption;
        open_ = true;
    }
    // Ends the run, and says how many repeats were not shown if there were any.
    void end() {
        open_ = false;
        if (const std::uint64_t repeats = std::exchange(repeats_, 0)) {
            show_(text_, caption_, repeats);
        }
    }

  private:
    Show show_;
    std::string text_;
    std::string caption_;
    std::uint64_t repeats_ = 0;
    bool open_ = false;
};

// " (N more times)", said after a run's warning when it ends; nothing for none.
inline std::string moreTimes(std::uint64_t repeats) {
    if (repeats == 0) {
        return {};
    }
    return " (" + std::to_string(repeats) + " more time" + (repeats == 1 ? ")" : "s)");
}

} // namespace telmar::cli
