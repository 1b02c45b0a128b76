// SPDX-License-Identifier: MIT
#pragma once

#include "tests/support/SimProcess.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace telmar::test {

// A test against a private simulated box, which the USB backend of this process and of
// the programs it starts uses. The watchdog ends the test binary, and the daemon with
// it, when a test hangs.
class OnSimulatedBox : public ::testing::Test {
  protected:
    explicit OnSimulatedBox(std::vector<std::string> serveArgs = {"--delay-ms", "1"},
                            std::chrono::seconds limit = std::chrono::seconds(80))
        : watchdog(limit), sim(std::move(serveArgs)) {}

    void SetUp() override {
        watchdog.guard(sim.pid());
        ASSERT_TRUE(sim.running()) << sim.error();
        sim.becomeUsbBackend();
    }
    void control(const std::string& request) { ASSERT_TRUE(sim.control(request).ok) << request; }

    Watchdog watchdog;
    SimProcess sim;
};

} // namespace telmar::test
