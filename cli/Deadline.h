// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

namespace telmar::cli {

// The clock of a command under --timeout. Once the time is up, every sleep returns at
// once and `onExpiry` runs (a session abandons its link there), so the exchange in
// flight ends at its next look at the clock and nothing new is sent: the command ends
// between two exchanges and the box is left as the last complete one left it. Without
// a limit it is the inner clock.
class DeadlineClock final : public link::Clock {
  public:
    DeadlineClock(link::Clock& inner, std::optional<std::uint32_t> limitMs);

    std::uint32_t tickMs() override;
    void sleepMs(std::uint32_t ms) override;

    bool expired() const { return expired_; }
    std::optional<std::uint32_t> limitMs() const { return limitMs_; }
    // Replaces the action at expiry; runs it at once when the time is already up.
    void setOnExpiry(std::function<void()> action);

  private:
    void check(std::uint32_t nowMs);

    link::Clock& inner_;
    std::optional<std::uint32_t> limitMs_;
    std::uint32_t startMs_;
    bool expired_ = false;
    std::function<void()> onExpiry_;
};

// `action` runs if the time of `clock` (none: never) runs out while this lives.
class OnExpiry {
  public:
    OnExpiry(DeadlineClock* clock, std::function<void()> action) : clock_(clock) {
        if (clock_ != nullptr) {
            clock_->setOnExpiry(std::move(action));
        }
    }
    ~OnExpiry() {
        if (clock_ != nullptr) {
            clock_->setOnExpiry({});
        }
    }
    OnExpiry(const OnExpiry&) = delete;
    OnExpiry& operator=(const OnExpiry&) = delete;

  private:
    DeadlineClock* clock_;
};

} // namespace telmar::cli
