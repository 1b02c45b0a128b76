// SPDX-License-Identifier: MIT
#include "link/Clock.h"

#include <chrono>
#include <thread>

namespace telmar::link {

std::uint32_t SteadyClock::tickMs() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms); // wraps like a 32-bit tick counter
}

void SteadyClock::sleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace telmar::link
