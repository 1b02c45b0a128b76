// SPDX-License-Identifier: MIT
// The libusb backend against emulated boxes (umockdev). This process builds the
// emulated bus and answers the usbdevfs requests; the program under test
// (EmulatedClient.cpp) runs as a child with the preload library, under a time limit.

#include "tests/usb/emulation/BoxResponder.h"
#include "tests/usb/emulation/Bus.h"
#include "tests/usb/emulation/ChildProcess.h"
#include "tests/usb/emulation/UsbTestbed.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace telmar::test::usbemu;
using namespace std::chrono_literals;

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

const Event kClaim{Event::Kind::Claim, 0, 0, {}};
const Event kRelease{Event::Kind::Release, 0, 0, {}};
const Event kEnable = vendorEvent(0x00, 0xFFFF);
const Event kOpen = vendorEvent(0x02, 0x0002);
const Event kPurge = vendorEvent(0x02, 0x0001);
const Event kClose = vendorEvent(0x02, 0x0004);
const Event kWriteEdidMode = outEvent({0x10, 0x04, 0xE0, 0x05, 0x03});
const Event kReadSettings = outEvent({0x11, 0x16, 0xE1});
const Event kReadVersion = outEvent({0x11, 0x08, 0xE0, 0x09});

class LibusbEmulation : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const auto& slot : bus::kSlots) {
            DeviceSpec spec{slot.serial, slot.port, 0x10C4, slot.productId, slot.bulkOut};
            bed.addDevice(spec, boxResponder(slot.serial));
        }
    }

    void TearDown() override {
        for (const unsigned long request : bed.unknownRequests()) {
            ADD_FAILURE() << "usbdevfs request the emulation lacks: 0x" << std::hex << request;
        }
    }

    ChildResult runClient(const std::string& scenario, ChildOptions options = {}) {
        std::string asan =
            std::getenv("ASAN_OPTIONS") != nullptr ? std::getenv("ASAN_OPTIONS") : "";
        // The preload library must come first, ahead of the sanitizer runtime.
        asan += (asan.empty() ? "" : ":") + std::string("verify_asan_link_order=0");
        options.env.push_back({"LD_PRELOAD", "libumockdev-preload.so.0"});
        options.env.push_back({"UMOCKDEV_DIR", bed.rootDir()});
        options.env.push_back({"ASAN_OPTIONS", asan});
        options.unset.push_back("TELMAR_USB_BACKEND");
        if (std::none_of(options.env.begin(), options.env.end(),
                         [](const auto& kv) { return kv.first == "TELMAR_USB_IDS"; })) {
            options.unset.push_back("TELMAR_USB_IDS");
        }
        options.limit = 30s;
        return runChild(
            {TELMAR_USB_CLIENT, "--gtest_filter=LinkClient." + scenario, "--gtest_color=no"},
            options);
    }

    static void expectPassed(const ChildResult& r) {
        if (std::getenv("TELMAR_TEST_VERBOSE") != nullptr) { // the client's own report
            std::cout << r.out << r.err;
        }
        EXPECT_FALSE(r.timedOut) << "the client hung\n" << r.out << r.err;
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(occurrences(r.out, "[  PASSED  ] 1 test"), 1u) << r.out << r.err;
    }

    UsbTestbed bed;
};

TEST_F(LibusbEmulation, FindsTheBoxByItsSerialAndCompletesTheRequests) {
    expectPassed(runClient("PanelRequests"));

    const std::vector<Event> expected = {
        kClaim,        kEnable, kOpen,        kPurge, kWriteEdidMode, kPurge,
        kReadSettings, kPurge,  kReadVersion, kClose, kRelease,
    };
    EXPECT_EQ(bed.events(bus::kBoxPort), expected) << describe(bed.events(bus::kBoxPort));
    for (const auto& slot : bus::kSlots) {
        if (slot.port != bus::kBoxPort) {
            EXPECT_TRUE(bed.events(slot.port).empty()) << slot.port;
        }
    }
}

TEST_F(LibusbEmulation, DeviceVanishingBetweenExchangesFailsEveryLaterCall) {
    // The purge that opens the second exchange finds the device gone.
    bed.vanishOnPurge(bus::kBoxPort, 2);
    expectPassed(runClient("DeviceVanishes"));

    const std::vector<Event> expected = {kClaim, kEnable, kOpen, kPurge, kWriteEdidMode, kPurge};
    EXPECT_EQ(bed.events(bus::kBoxPort), expected) << describe(bed.events(bus::kBoxPort));
}

TEST_F(LibusbEmulation, TraceOfTheLibusbBackendReplays) {
    const std::string trace = bed.rootDir() + "/session.jsonl";
    ChildOptions record;
    record.env = {{"TELMAR_TRACE", trace}};
    expectPassed(runClient("PanelRequests", record));
    ChildOptions replay;
    replay.env = {{"TELMAR_REPLAY", trace}};
    expectPassed(runClient("PanelRequestsReplayed", replay));
}

TEST_F(LibusbEmulation, TraceDebugLogShowsFramesAndLibusbErrorNames) {
    bed.vanishOnPurge(bus::kBoxPort, 2);
    ChildOptions options;
    options.env = {{"TELMAR_DEBUG", "1"}};
    const ChildResult r = runClient("DeviceVanishes", options);
    expectPassed(r);
    for (const char* logged : {
             "telmar.backend: backend: usb",
             "telmar.link: device search: index 2: serial \"2031\", the box",
             "telmar.usb: write(handle 0x1, 10 04 E0 05 03) -> status 0, 5 written",
             "telmar.link: exchange 10 04 E0 05 03: ok, reply E0",
             "flushBuffers: LIBUSB_ERROR_NO_DEVICE",
             "telmar.link: exchange 11 16 E1: write failed",
         }) {
        EXPECT_NE(r.err.find(logged), std::string::npos) << logged << "\n" << r.err;
    }
}

TEST_F(LibusbEmulation, ReplyThatNeverComesLeavesTheBackendUsable) {
    bed.dropReplies(bus::kBoxPort, 1);
    expectPassed(runClient("ReplyNeverComes"));

    const std::vector<Event> expected = {
        kClaim, kEnable, kOpen, kPurge, kReadSettings, kPurge, kReadSettings, kClose, kRelease,
    };
    EXPECT_EQ(bed.events(bus::kBoxPort), expected) << describe(bed.events(bus::kBoxPort));
}

TEST_F(LibusbEmulation, PermissionDeniedNamesTheUdevRulesOnce) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the client as an unprivileged user";
    }
    bed.exposeToOthersExceptNodes();
    ChildOptions options;
    options.uid = 65534; // nobody
    options.gid = 65534;
    const ChildResult r = runClient("PermissionDenied", options);
    expectPassed(r);
    EXPECT_EQ(occurrences(r.err, "60-telmar.rules"), 1u) << r.err;
    EXPECT_EQ(occurrences(r.err, "udevadm control --reload-rules"), 1u) << r.err;
    EXPECT_TRUE(bed.events(bus::kBoxPort).empty());
}

TEST_F(LibusbEmulation, DriverFunctionsOnTheEmulatedBox) {
    expectPassed(runClient("DriverDetails"));

    const std::vector<Event> expected = {
        kClaim, kEnable, kOpen, kReadVersion, kReadVersion, kPurge, kClose, kRelease,
    };
    EXPECT_EQ(bed.events(bus::kBoxPort), expected) << describe(bed.events(bus::kBoxPort));
    // The device without a bulk OUT endpoint is refused before it is claimed.
    EXPECT_TRUE(bed.events(bus::kSlots[4].port).empty());
}

TEST_F(LibusbEmulation, IdListComesFromTheEnvironment) {
    struct Case {
        const char* ids;
        const char* expectedCount;
        bool complaint;
    };
    const Case cases[] = {
        {"10c4:0001,10c4:ea61", "5", false},
        {"10C4:0001", "1", false},
        {"1d6b:0002", "1", false}, // the root hub: it is any device whose id is listed
        {"10c4;ea61", "4", true},
        {"10c4:ea61,", "4", true},
        {"10c4:1ea61", "4", true},
    };
    for (const auto& c : cases) {
        ChildOptions options;
        options.env = {{"TELMAR_USB_IDS", c.ids}, {"TELMAR_TEST_EXPECTED_COUNT", c.expectedCount}};
        const ChildResult r = runClient("IdListFromEnvironment", options);
        expectPassed(r);
        EXPECT_EQ(occurrences(r.err, "TELMAR_USB_IDS"), c.complaint ? 1u : 0u) << c.ids << r.err;
    }
}

} // namespace
