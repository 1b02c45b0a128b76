// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/ScriptedDriver.h"

#include <cstdint>
#include <vector>

namespace telmar::test {

using Bytes = std::vector<std::uint8_t>;

constexpr int kCount = 1, kString = 2, kOpen = 3, kClose = 4, kRead = 6, kWrite = 7, kFlush = 9,
              kSetTimeouts = 10, kGetTimeouts = 11, kQueue = 12;

// Ordinals with every run of queue checks collapsed to one, so a sequence can be
// stated without knowing how many checks a wait took.
inline std::vector<int> collapsedOrdinals(const ScriptedDriver& driver) {
    std::vector<int> out;
    for (int o : driver.ordinals()) {
        if (o == kQueue && !out.empty() && out.back() == kQueue) {
            continue;
        }
        out.push_back(o);
    }
    return out;
}

} // namespace telmar::test
