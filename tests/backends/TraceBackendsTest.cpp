// SPDX-License-Identifier: MIT
// TELMAR_TRACE and the replay backend through the composition root, on a private
// simulated box.
#include "backends/DriverFactory.h"
#include "backends/ReplayDriver.h"
#include "link/PanelLink.h"
#include "sim/SimDriver.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace telmar;

struct Result {
    bool found = false;
    std::vector<link::Reply> replies;
    std::vector<bool> answered;
    bool operator==(const Result&) const = default;
};

Result panelSession(usb::Driver& driver) {
    link::SteadyClock clock;
    test::RecordingMessages messages;
    link::PanelLink panel(driver, clock, messages);
    Result r;
    std::uint32_t index = 0;
    r.found = panel.findDevice("2031", index) && panel.openDevice(index);
    for (const std::uint8_t block : {std::uint8_t{9}, std::uint8_t{11}, std::uint8_t{15}}) {
        const std::uint8_t request[] = {0x11, 0x10, 0xE0, block};
        link::Reply reply{};
        r.answered.push_back(panel.exchange(request, reply, 0x10));
        r.replies.push_back(reply);
    }
    panel.closeDevice();
    return r;
}

TEST(TraceBackends, ASimSessionRecordedWithTelmarTraceReplaysThroughTheReplayBackend) {
    test::Watchdog watchdog(std::chrono::seconds(60));
    test::SimProcess sim({"--scenario", "4k60-hdr"});
    ASSERT_TRUE(sim.running()) << sim.error();
    test::TempFolder folder;
    const std::string trace = folder.file("sim.jsonl");
    sim.becomeUsbBackend();
    ::unsetenv("TELMAR_DEBUG");

    // Neither trace nor log asked for: the backend itself, nothing in between.
    EXPECT_NE(dynamic_cast<sim::SimDriver*>(backends::createDriver().get()), nullptr);

    ::setenv("TELMAR_TRACE", trace.c_str(), 1);
    Result recorded;
    {
        auto driver = backends::createDriver();
        EXPECT_EQ(dynamic_cast<sim::SimDriver*>(driver.get()), nullptr);
        recorded = panelSession(*driver);
    }
    ::unsetenv("TELMAR_TRACE");
    ASSERT_TRUE(recorded.found);
    ASSERT_EQ(recorded.answered, std::vector<bool>(3, true));

    ::setenv("TELMAR_USB_BACKEND", "replay", 1);
    ::setenv("TELMAR_REPLAY", trace.c_str(), 1);
    auto driver = backends::createDriver();
    auto* replay = dynamic_cast<backends::ReplayDriver*>(driver.get());
    ASSERT_NE(replay, nullptr);
    EXPECT_EQ(replay->header().backend, "sim");
    EXPECT_TRUE(replay->header().simulatedBox);
    EXPECT_EQ(panelSession(*driver), recorded);
    EXPECT_FALSE(replay->mismatch()) << *replay->mismatch();
    EXPECT_EQ(replay->unplayedReport(), "every call played");
    ::unsetenv("TELMAR_REPLAY");
    ::unsetenv("TELMAR_USB_BACKEND");
}

TEST(TraceBackends, ProblemsWithTheFilesAreNamedAndNothingIsPretended) {
    test::TempFolder folder;
    const std::string garbled = folder.file("garbled.jsonl");
    std::ofstream(garbled) << R"({"format":"telmar-usb-trace","version":1})"
                           << "\n{oops\n";
    struct Case {
        const char* replay;
        const char* complaint;
    };
    const Case cases[] = {
        {nullptr, "TELMAR_REPLAY: not set"},
        {"/nonexistent/trace.jsonl", "TELMAR_REPLAY: cannot read /nonexistent/trace.jsonl"},
        {garbled.c_str(), "garbled.jsonl: line 2: expected a JSON object"},
    };
    for (const auto& c : cases) {
        std::ostringstream err;
        if (c.replay != nullptr) {
            ::setenv("TELMAR_REPLAY", c.replay, 1);
        }
        {
            auto driver = backends::createDriver("replay", err);
            std::uint32_t count = 7;
            EXPECT_NE(driver->getNumDevices(count), usb::kSuccess) << c.complaint;
        }
        ::unsetenv("TELMAR_REPLAY");
        EXPECT_NE(err.str().find(c.complaint), std::string::npos) << err.str();
    }

    std::ostringstream err;
    ::setenv("TELMAR_TRACE", "/nonexistent/folder/trace.jsonl", 1);
    auto driver = backends::createDriver("usb", err);
    ::unsetenv("TELMAR_TRACE");
    EXPECT_NE(err.str().find("TELMAR_TRACE: cannot write /nonexistent/folder/trace.jsonl"),
              std::string::npos)
        << err.str();
}

} // namespace
