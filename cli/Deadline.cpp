// SPDX-License-Identifier: MIT
#include "cli/Deadline.h"

#include <algorithm>
#include <utility>

namespace telmar::cli {

DeadlineClock::DeadlineClock(link::Clock& inner, std::optional<std::uint32_t> limitMs)
    : inner_(inner), limitMs_(limitMs), startMs_(inner.tickMs()) {}

std::uint32_t DeadlineClock::tickMs() {
    const std::uint32_t now = inner_.tickMs();
    check(now);
    return now;
}

void DeadlineClock::sleepMs(std::uint32_t ms) {
    if (expired_) {
        return;
    }
    if (limitMs_) {
        const std::uint32_t spent = link::elapsedMs(startMs_, inner_.tickMs());
        ms = std::min(ms, *limitMs_ - std::min(spent, *limitMs_));
    }
    inner_.sleepMs(ms);
    check(inner_.tickMs());
}

void DeadlineClock::setOnExpiry(std::function<void()> action) {
    onExpiry_ = std::move(action);
    if (expired_ && onExpiry_) {
        onExpiry_();
    }
}

void DeadlineClock::check(std::uint32_t nowMs) {
    if (expired_ || !limitMs_ || link::elapsedMs(startMs_, nowMs) < *limitMs_) {
        return;
    }
    expired_ = true;
    if (onExpiry_) {
        onExpiry_();
    }
}

} // namespace telmar::cli
