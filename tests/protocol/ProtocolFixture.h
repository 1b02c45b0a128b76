// SPDX-License-Identifier: MIT
#pragma once

#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/RecordingStatusSink.h"
#include "tests/support/ScriptedDriver.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace telmar::test {

using Bytes = std::vector<std::uint8_t>;

// A control protocol over the scripted driver, with the box found and opened.
class ProtocolFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        driver.addDevice("2031");
        ASSERT_TRUE(link.openDevice(0));
        driver.clearCalls();
    }

    link::VirtualClock clock;
    ScriptedDriver driver{clock};
    RecordingMessages messages;
    link::PanelLink link{driver, clock, messages};
    RecordingStatusSink status;
    protocol::ControlProtocol protocol{link, status};
};

} // namespace telmar::test
