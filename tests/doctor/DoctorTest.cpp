// SPDX-License-Identifier: MIT
// telmarctl doctor as a new owner runs it: on emulated USB devices that open, that this
// user may not open, and on none; on a running and a missing simulator. The report's
// recorded session replays to the status it recorded.

#include "tests/support/OnSimulatedBox.h"
#include "tests/support/SimProcess.h"
#include "tests/usb/emulation/BoxResponder.h"
#include "tests/usb/emulation/Bus.h"
#include "tests/usb/emulation/ChildProcess.h"
#include "tests/usb/emulation/UsbTestbed.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace telmar {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;
namespace emu = test::usbemu;

// The verdicts of the checks with `id`, in order.
std::vector<std::string> verdicts(const Json& doctor, const std::string& id) {
    std::vector<std::string> found;
    for (const auto& check : doctor["checks"]) {
        if (check["id"] == id) {
            found.push_back(check["verdict"]);
        }
    }
    return found;
}

std::string checkText(const Json& doctor, const std::string& id) {
    std::string text;
    for (const auto& check : doctor["checks"]) {
        if (check["id"] == id) {
            text += check["found"].get<std::string>() + " | " + check.value("fix", "") + "\n";
        }
    }
    return text;
}

struct EmulatedCase {
    const char* name;
    bool devices;
    bool unprivileged;
    int exitCode;
    const char* accessVerdict; // of the box's node, "" when there is none
    const char* devicesVerdict;
};

TEST(DoctorOnEmulatedUsb, SaysWhetherTheBoxOpensAndHowToFixItWhenNot) {
    const EmulatedCase cases[] = {
        {"opens", true, false, 0, "ok", "ok"},
        {"not this user's", true, true, 1, "problem", "ok"},
        {"no device", false, false, 3, "", "problem"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.unprivileged && ::geteuid() != 0) {
            continue; // only root can run the check as another user
        }
        emu::UsbTestbed bed;
        if (c.devices) {
            for (const auto& slot : emu::bus::kSlots) {
                bed.addDevice({slot.serial, slot.port, 0x10C4, slot.productId, slot.bulkOut},
                              emu::boxResponder(slot.serial));
            }
        }
        emu::ChildOptions options;
        options.env = {{"LD_PRELOAD", "libumockdev-preload.so.0"},
                       {"UMOCKDEV_DIR", bed.rootDir()},
                       {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
        options.unset = {"TELMAR_USB_BACKEND", "TELMAR_USB_IDS"};
        options.limit = 40s;
        if (c.unprivileged) {
            bed.exposeToOthersExceptNodes();
            options.uid = 65534; // nobody
            options.gid = 65534;
        }
        const auto r = emu::runChild({TELMARCTL_BINARY, "--json", "doctor"}, options);
        ASSERT_FALSE(r.timedOut) << r.err;
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        const Json doctor = Json::parse(r.out, nullptr, false);
        ASSERT_FALSE(doctor.is_discarded()) << r.out;
        EXPECT_EQ(verdicts(doctor, "usb.devices"), std::vector<std::string>{c.devicesVerdict});
        const auto access = verdicts(doctor, "usb.access");
        if (*c.accessVerdict == '\0') {
            EXPECT_TRUE(access.empty());
            continue;
        }
        // Four devices carry the box's default id: 1-1, 1-3, 1-4 and 1-5.
        EXPECT_EQ(access, std::vector<std::string>(4, c.accessVerdict))
            << checkText(doctor, "usb.access");
        const Json& devices = doctor["facts"]["usb"]["devices"];
        ASSERT_EQ(devices.size(), 4u);
        EXPECT_EQ(devices[2]["sysfs"], "1-4");
        EXPECT_EQ(devices[2]["bus"], 1);
        if (c.unprivileged) {
            const std::string text = checkText(doctor, "usb.access");
            EXPECT_NE(text.find("may not open /dev/bus/usb/001/"), std::string::npos) << text;
            EXPECT_NE(text.find("udevadm trigger"), std::string::npos) << text;
            EXPECT_NE(checkText(doctor, "usb.udev-rule").find("60-telmar.rules"),
                      std::string::npos);
        } else {
            EXPECT_EQ(verdicts(doctor, "box.open"), std::vector<std::string>{"ok"});
            EXPECT_NE(checkText(doctor, "box.open").find("serial 2031, firmware ver:"),
                      std::string::npos)
                << checkText(doctor, "box.open");
        }
    }
}

class DoctorOnSimulator : public test::OnSimulatedBox {
  protected:
    DoctorOnSimulator() : OnSimulatedBox({"--delay-ms", "1"}, std::chrono::seconds(100)) {}
    static test::CliResult run(std::vector<std::string> words) {
        words.insert(words.begin(), TELMARCTL_BINARY);
        return test::runProgram(words, 30000);
    }
};

TEST_F(DoctorOnSimulator, RunningAndMissingSimulatorAreToldApart) {
    const auto running = run({"--json", "doctor"});
    EXPECT_EQ(running.exitCode, 0) << running.out << running.err;
    const Json doctor = Json::parse(running.out);
    EXPECT_EQ(verdicts(doctor, "sim.daemon"), std::vector<std::string>{"ok"});
    EXPECT_EQ(doctor["facts"]["sim"]["peer_pid"], sim.pid());
    EXPECT_EQ(doctor["facts"]["sim"]["peer_uid"], ::getuid());

    ::setenv("TELMAR_SIM_SOCKET", (sim.folder() + "/nobody-here.sock").c_str(), 1);
    const auto missing = run({"--json", "doctor"});
    EXPECT_EQ(missing.exitCode, 3) << missing.out;
    EXPECT_EQ(verdicts(Json::parse(missing.out), "sim.daemon"),
              std::vector<std::string>{"problem"});
    // Every command on the sim backend names the missing simulator, after the usual text.
    const auto status = run({"status"});
    EXPECT_EQ(status.exitCode, 3);
    EXPECT_NE(status.err.find("Connect USB cable to TELMAR"), std::string::npos) << status.err;
    EXPECT_NE(status.err.find("No simulator is running on"), std::string::npos) << status.err;
}

TEST_F(DoctorOnSimulator, ReportReplaysToTheSameStatusAndNamesNoUser) {
    ASSERT_TRUE(sim.control("scenario 4k60-hdr").ok);
    ::setenv("HOME", sim.folder().c_str(), 1);
    const std::string reportFile = sim.folder() + "/report.json";
    const auto doctor = run({"doctor", "--report", reportFile});
    ASSERT_EQ(doctor.exitCode, 0) << doctor.out << doctor.err;
    std::ifstream in(reportFile);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find(sim.folder()), std::string::npos) << "the home folder is in the report";
    const Json report = Json::parse(text);
    EXPECT_EQ(report["findings"]["exit_code"], 0);
    EXPECT_FALSE(report["versions"]["os"].get<std::string>().empty());
    const Json& session = report["session"];
    ASSERT_TRUE(session["recorded"].get<bool>());

    const std::string traceFile = sim.folder() + "/session.jsonl";
    {
        std::ofstream out(traceFile);
        for (const auto& line : session["trace"]) {
            out << line.get<std::string>() << "\n";
        }
    }
    ::setenv("TELMAR_REPLAY", traceFile.c_str(), 1);
    const auto replayed = run({"--backend", "replay", "--json", "status"});
    EXPECT_EQ(replayed.exitCode, 0) << replayed.err;
    EXPECT_EQ(replayed.err, "");
    EXPECT_EQ(Json::parse(replayed.out), session["status"]);
    EXPECT_NE(session["status"]["lines"]["hdr"], "");
    EXPECT_EQ(session["status"]["details"]["hdr"]["present"], true);
}

} // namespace
} // namespace telmar
