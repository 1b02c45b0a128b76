// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"

#include <atomic>
#include <cstdint>

namespace telmar::link {

// Time that moves only when told to, or when somebody sleeps.
class VirtualClock final : public Clock {
  public:
    explicit VirtualClock(std::uint32_t startMs = 0) : now_(startMs) {}

    std::uint32_t tickMs() override { return now_.load(); }
    void sleepMs(std::uint32_t ms) override {
        slept_ += ms;
        advance(ms);
    }

    void advance(std::uint32_t ms) { now_ += ms; }
    // Total of all sleeps, in milliseconds.
    std::uint64_t sleptMs() const { return slept_.load(); }

  private:
    std::atomic<std::uint32_t> now_;
    std::atomic<std::uint64_t> slept_{0};
};

} // namespace telmar::link
