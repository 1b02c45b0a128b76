// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"

#include <cstdint>

namespace telmar::test {

// Real time, with the ticks run `tickFactor` times faster and sleeps `sleepDivisor`
// times shorter, for tests against real processes whose waits would cost seconds.
class ScaledClock final : public link::Clock {
  public:
    ScaledClock(std::uint32_t tickFactor, std::uint32_t sleepDivisor)
        : tickFactor_(tickFactor), sleepDivisor_(sleepDivisor) {}

    std::uint32_t tickMs() override { return real_.tickMs() * tickFactor_; }
    void sleepMs(std::uint32_t ms) override { real_.sleepMs(ms / sleepDivisor_); }

  private:
    link::SteadyClock real_;
    std::uint32_t tickFactor_;
    std::uint32_t sleepDivisor_;
};

} // namespace telmar::test
