// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "updater/UserInterface.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace telmar::test {

// One thing the procedure showed the user, or its request to end the process.
struct UiEvent {
    enum Kind { Line, Warning, Exit };
    Kind kind;
    std::string text{};             // line or box text
    std::string caption{};          // box caption
    int y = 0;                      // line
    int exitCode = 0;               // exit
    std::uint32_t atMs = 0;         // virtual time
    std::uint32_t framesBefore = 0; // frames written to the box until then
    bool writing = false;           // FlashUpdate::writing() at that moment

    bool isLine(std::string_view t, int atY) const { return kind == Line && text == t && y == atY; }
    bool isWarning(std::string_view t, std::string_view c) const {
        return kind == Warning && text == t && caption == c;
    }
};

// Records everything in one ordered log; endProcess returns, so a test sees what the
// procedure does afterwards (it must do nothing).
class RecordingUi final : public updater::UserInterface {
  public:
    RecordingUi(link::Clock& clock, const std::atomic<std::uint32_t>& frames)
        : clock_(clock), frames_(frames) {}

    void setWritingProbe(std::function<bool()> probe) { writingProbe_ = std::move(probe); }

    void drawStatusLine(std::string_view text, int y) override {
        add({.kind = UiEvent::Line, .text = std::string(text), .y = y});
    }
    void showWarning(std::string_view text, std::string_view caption) override {
        add({.kind = UiEvent::Warning, .text = std::string(text), .caption = std::string(caption)});
    }
    void endProcess(int exitCode) override { add({.kind = UiEvent::Exit, .exitCode = exitCode}); }

    std::vector<UiEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<UiEvent> of(UiEvent::Kind kind) const {
        std::vector<UiEvent> result;
        for (const auto& e : events()) {
            if (e.kind == kind) {
                result.push_back(e);
            }
        }
        return result;
    }

  private:
    void add(UiEvent event) {
        event.atMs = clock_.tickMs();
        event.framesBefore = frames_.load();
        event.writing = writingProbe_ && writingProbe_();
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }

    link::Clock& clock_;
    const std::atomic<std::uint32_t>& frames_;
    std::function<bool()> writingProbe_;
    mutable std::mutex mutex_;
    std::vector<UiEvent> events_;
};

} // namespace telmar::test
