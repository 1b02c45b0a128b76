// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace telmar::link {

// A 32-bit millisecond tick counter that wraps, and a sleep. Every wait of the
// programs goes through one of these so tests can run them in virtual time.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint32_t tickMs() = 0;
    virtual void sleepMs(std::uint32_t ms) = 0;
};

// Milliseconds from `earlier` to `later`, correct across one wrap of the counter.
constexpr std::uint32_t elapsedMs(std::uint32_t earlier, std::uint32_t later) {
    return later - earlier;
}

// Monotonic wall time.
class SteadyClock final : public Clock {
  public:
    std::uint32_t tickMs() override;
    void sleepMs(std::uint32_t ms) override;
};

} // namespace telmar::link
