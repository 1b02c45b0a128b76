// SPDX-License-Identifier: MIT
// The doctor's checks fed with facts of machines this one is not: each situation a new
// owner meets gives its verdict, the fix that names the remedy, and the exit code.

#include "doctor/Findings.h"

#include <functional>
#include <gtest/gtest.h>

namespace telmar::doctor {
namespace {

// A box on bus 3 that this user may open, nothing in the way, the rule installed.
Facts usableBox() {
    Facts f;
    f.backend = "usb";
    f.backendWhy = "the default";
    f.wantedSerial = "2031";
    UsbSystem usb;
    usb.libusb = true;
    usb.ids = {"10c4:ea61"};
    usb.rule = {{"/etc/udev/rules.d"}, "/usr/lib/udev/rules.d/60-telmar.rules", true};
    usb.devices.push_back({"3-1",
                           3,
                           7,
                           "10c4:ea61",
                           "/dev/bus/usb/003/007",
                           true,
                           true,
                           "crw-rw-r-- root:root",
                           {},
                           {}});
    f.usb = usb;
    f.counted = true;
    f.count = 1;
    f.devices.push_back({0, "usb:3-1", true, "2031", "", true, true, true, "ver: 2.1"});
    return f;
}

struct Case {
    const char* name;
    std::function<void(Facts&)> change;
    const char* checkId;
    Verdict verdict;
    const char* fixHolds; // "" when the check needs no fix
    int exitCode;
};

TEST(DoctorFindings, EachSituationHasItsVerdictFixAndExitCode) {
    const auto refused = [](Facts& f) {
        f.usb->devices[0].mayOpen = false;
        f.devices[0] = {0, "usb:3-1", false, "", "LIBUSB_ERROR_ACCESS", false, false, false, ""};
    };
    const Case cases[] = {
        {"usable", [](Facts&) {}, "box.open", Verdict::Ok, "", 0},
        {"rule installed, not applied", refused, "usb.access", Verdict::Problem,
         "udevadm trigger, or unplug the box and plug it in again", 1},
        {"no rule",
         [&](Facts& f) {
             refused(f);
             f.usb->rule.found.clear();
         },
         "usb.udev-rule", Verdict::Problem, "sudo cp 60-telmar.rules /etc/udev/rules.d/", 1},
        {"held by another program",
         [](Facts& f) {
             f.usb->devices[0].holders = {{4242, "LUMORA_GUI"}};
             f.devices[0].opened = f.devices[0].answered = false;
         },
         "usb.holders", Verdict::Problem, "close LUMORA_GUI (pid 4242)", 1},
        {"kernel driver", [](Facts& f) { f.usb->devices[0].kernelDrivers = {"cp210x (3-1:1.0)"}; },
         "usb.kernel-driver", Verdict::Warning, "", 0},
        {"left in programming mode", [](Facts& f) { f.devices[0].answered = false; }, "box.answers",
         Verdict::Problem, "telmarctl update fpga1|fpga2", 1},
        {"nothing plugged in",
         [](Facts& f) {
             f.usb->devices.clear();
             f.devices.clear();
             f.count = 0;
         },
         "usb.devices", Verdict::Problem, "plug the box in", 3},
        {"simulator too busy",
         [](Facts& f) {
             f.usb.reset();
             f.sim = SimEndpoint{"/run/s.sock", SimEndpoint::State::Busy, "", -1, -1, false};
             f.counted = false;
             f.devices.clear();
         },
         "sim.daemon", Verdict::Problem, "try again", 1},
        {"vendor library missing",
         [](Facts& f) {
             f.usb.reset();
             f.library =
                 VendorLibrary{{"C:\\\\app"}, "", "", false, "SiUSBXp.dll could not be loaded."};
             f.counted = false;
             f.devices.clear();
         },
         "windows.library", Verdict::Problem, "beside telmarctl.exe", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Facts facts = usableBox();
        c.change(facts);
        const Findings findings = diagnose(facts);
        EXPECT_EQ(exitCode(findings), c.exitCode) << formatText(findings);
        const Check* check = nullptr;
        for (const Check& k : findings.checks) {
            if (k.id == c.checkId && (check == nullptr || k.verdict > check->verdict)) {
                check = &k;
            }
        }
        ASSERT_NE(check, nullptr) << formatText(findings);
        EXPECT_EQ(check->verdict, c.verdict) << check->found;
        EXPECT_NE(check->fix.find(c.fixHolds), std::string::npos) << check->fix;
        // Every problem says how to fix it.
        for (const Check& k : findings.checks) {
            EXPECT_TRUE(k.verdict != Verdict::Problem || !k.fix.empty()) << k.id;
        }
    }
}

} // namespace
} // namespace telmar::doctor
