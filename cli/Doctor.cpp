// SPDX-License-Identifier: MIT
#include "cli/Doctor.h"

#include "base/Time.h"
#include "cli/BoxSession.h"
#include "cli/Text.h"
#include "doctor/Findings.h"
#include "doctor/Probes.h"
#include "link/DeviceSearch.h"
#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "protocol/Frames.h"
#include "status/StatusUpdate.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>

#if __has_include(<QtGlobal>)
#include <QtGlobal>
#define TELMAR_HAVE_QT 1
#endif
#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace telmar::cli {

namespace {

using doctor::Json;

class QuietMessages final : public link::MessageSink {
  public:
    void showWarning(std::string_view, std::string_view) override {}
};

class QuietStatus final : public protocol::StatusSink {
  public:
    void showMessage(std::string_view, int) override {}
};

std::string failure(const usb::Driver& driver, usb::Status status) {
    const std::string words = driver.lastError();
    return words.empty() ? "status " + std::to_string(status) : words;
}

// Opens the box at `index` as the panel does and asks it for its settings and version:
// requests that read, never one that writes.
void tryBox(Context& c, doctor::DeviceSeen& d) {
    QuietMessages messages;
    QuietStatus statusBar;
    link::PanelLink link(c.driver, c.clock, messages);
    const OnExpiry expiry(c.deadline, [&link] { link.abandon(); });
    if (!link.openDevice(d.index)) {
        const std::string problem = c.driver.reachProblem();
        d.error = problem.empty() ? failure(c.driver, usb::kDeviceIoFailed) : problem;
        return;
    }
    d.opened = true;
    protocol::ControlProtocol protocol(link, statusBar);
    link::Reply settings{};
    link::Reply version{};
    const bool settingsRead = protocol.readSettings(settings, protocol::kSettingsReplyCount) &&
                              settings[0] == protocol::kSettingsEcho;
    const bool versionRead =
        protocol.readBlock(protocol::block::Version, version, protocol::block_count::Version);
    d.answered = settingsRead && versionRead;
    if (versionRead) {
        d.version = latin1ToUtf8(status::versionText(version));
    }
    link.closeDevice();
}

// What the driver itself says: the count, each device's strings, each box opened.
void driverPass(Context& c, doctor::Facts& f) {
    std::uint32_t count = 0;
    const usb::Status status = c.driver.getNumDevices(count);
    f.counted = status == usb::kSuccess;
    if (!f.counted) {
        f.countError = failure(c.driver, status);
        f.reachProblem = c.driver.reachProblem();
        return;
    }
    f.count = count;
    for (std::uint32_t i = 0; i < count && i < 32; ++i) {
        doctor::DeviceSeen d;
        d.index = i;
        d.linkName = usb::readDeviceString(c.driver, i, usb::kStringLinkName).value_or("");
        char serial[usb::kDeviceStringSize] = {};
        const usb::Status read = c.driver.getDeviceString(i, serial, usb::kStringSerialNumber);
        serial[usb::kDeviceStringSize - 1] = '\0';
        d.serialRead = read == usb::kSuccess;
        if (!d.serialRead) {
            d.error = failure(c.driver, read);
        } else {
            d.serial = latin1ForTerminal(serial);
            d.isBox = link::serialMatches(serial, c.options.serial);
        }
        f.devices.push_back(std::move(d));
    }
    f.reachProblem = c.driver.reachProblem();
    for (auto& d : f.devices) {
        if (d.isBox) {
            tryBox(c, d);
        }
    }
}

// The short read-only session of a report, as `telmarctl status` runs it: find and open
// the box, read its settings, version and status, close it.
Json recordedSession(Context& c, const DoctorSetup& setup) {
    std::ostringstream trace;
    Json session{{"recorded", false}};
    if (!setup.record) {
        return session;
    }
    {
        std::unique_ptr<usb::Driver> recorder = setup.record(c.driver, trace);
        std::ostringstream quiet;
        BoxSession box(*recorder, c.clock, quiet);
        const OnExpiry expiry(c.deadline, [&box] { box.abandon(); });
        if (box.open(c.options.serial) == BoxSession::Opened::Yes) {
            session["status"] = Json::parse(snapshotJson(box.readSnapshot()));
        }
    } // the box is closed and the recorder has handed on its last entry
    Json lines = Json::array();
    std::istringstream in(trace.str());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    session["recorded"] = true;
    session["trace"] = std::move(lines);
    return session;
}

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    if (what.empty()) {
        return;
    }
    for (auto at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

// Nothing in a report may name the user: their home folder and their name as a path
// component become placeholders wherever a path or a message holds them.
void scrub(Json& j, const std::string& home, const std::string& user) {
    if (j.is_string()) {
        auto text = j.get<std::string>();
        replaceAll(text, home, "~");
        for (const char* sep : {"/", "\\"}) {
            replaceAll(text, sep + user + sep, std::string(sep) + "<user>" + sep);
            if (text.size() > user.size() + 1 &&
                text.compare(text.size() - user.size() - 1, std::string::npos, sep + user) == 0) {
                text.replace(text.size() - user.size(), user.size(), "<user>");
            }
        }
        j = text;
    } else if (j.is_structured()) {
        for (auto& item : j) {
            scrub(item, home, user);
        }
    }
}

std::string userName() {
#ifdef _WIN32
    const char* name = std::getenv("USERNAME");
    return name != nullptr ? name : "";
#else
    const passwd* pw = ::getpwuid(::getuid());
    return pw != nullptr ? pw->pw_name : "";
#endif
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home == nullptr) {
        home = std::getenv("USERPROFILE");
    }
    // "/" as a home would turn every path into "~...".
    return home != nullptr && std::string(home).size() > 1 ? home : "";
}

Json report(Context& c, const DoctorSetup& setup, const doctor::Facts& facts,
            const doctor::Findings& findings) {
    Json versions{{"telmarctl", setup.version}};
#ifdef TELMAR_HAVE_QT
    versions["qt"] = qVersion();
#endif
    versions["usb_library"] = doctor::usbLibraryVersion();
    versions["os"] = doctor::operatingSystem();
    Json j{{"report", "telmarctl doctor"},
           {"format", 1},
           {"created", base::isoTime(std::chrono::system_clock::now())},
           {"versions", std::move(versions)},
           {"findings", doctor::toJson(findings)},
           {"facts", doctor::toJson(facts)},
           {"session", recordedSession(c, setup)}};
    scrub(j, homeFolder(), userName());
    return j;
}

std::string dump(const Json& j, int indent = -1) {
    return j.dump(indent, ' ', false, Json::error_handler_t::replace);
}

} // namespace

int runDoctor(Context& c, const DoctorSetup& setup) {
    doctor::Facts facts;
    facts.backend = setup.backend;
    facts.backendWhy = setup.backendWhy;
    facts.wantedSerial = c.options.serial;
    if (setup.backend == "usb") {
#ifdef _WIN32
        facts.library = doctor::probeVendorLibrary();
#else
        facts.usb = doctor::probeUsbSystem();
#endif
    } else if (setup.backend == "sim") {
        facts.sim = doctor::probeSimulator(doctor::simulatorSocket());
    }
    driverPass(c, facts);
    const doctor::Findings findings = doctor::diagnose(facts);

    if (c.options.report) {
        std::ofstream file(*c.options.report, std::ios::out | std::ios::trunc);
        file << dump(report(c, setup, facts, findings), 2) << "\n";
        file.close();
        if (!file) {
            c.err << "telmarctl: cannot write the report to " << *c.options.report << std::endl;
            return kExitFailed;
        }
        c.err << "telmarctl: the report is in " << *c.options.report
              << "; attach it to the bug report" << std::endl;
    }
    if (c.options.json) {
        Json j = doctor::toJson(findings);
        j["facts"] = doctor::toJson(facts);
        c.out << dump(j) << std::endl;
    } else {
        c.out << doctor::formatText(findings) << std::flush;
    }
    return doctor::exitCode(findings);
}

} // namespace telmar::cli
