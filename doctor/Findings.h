// SPDX-License-Identifier: MIT
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

// What `telmarctl doctor` finds out and what it makes of it. The probes fill the facts
// (doctor/Probes.h for the system, the command for the driver's view); diagnose() turns
// them into checks with no I/O of its own, so tests feed it facts of any machine.
namespace telmar::doctor {

using Json = nlohmann::ordered_json;

enum class Verdict { Ok, Warning, Problem };

struct Check {
    std::string id; // "usb.access" and the like, for scripts
    Verdict verdict = Verdict::Ok;
    std::string found; // one or two sentences
    std::string fix;   // the command or step that fixes a problem; empty when ok
    // A problem that only says no box is there (exit 3 rather than 1).
    bool absence = false;
};

// A process that has a device node open.
struct Holder {
    long pid = 0;
    std::string name;
};

// One device with one of the box's USB ids, as the system lists it.
struct UsbNode {
    std::string sysName; // "1-4": bus 1, port 4
    unsigned bus = 0;
    unsigned address = 0;
    std::string id; // "10c4:ea61"
    std::string node;
    bool nodeExists = false;
    bool mayOpen = false;
    std::string access; // "crw-rw-r-- root:plugdev"
    std::vector<std::string> kernelDrivers;
    std::vector<Holder> holders;
};

struct UdevRule {
    std::vector<std::string> looked; // where it was looked for, in udev's order
    std::string found;               // the first that exists, or empty
    bool coversIds = false;          // it names every id in use
};

struct UsbSystem {
    bool libusb = false;
    std::string libusbVersion;
    std::string libusbError;
    std::vector<std::string> ids; // "10c4:ea61"
    std::string idsFrom;          // "default" or "TELMAR_USB_IDS"
    std::string idsProblem;       // a malformed TELMAR_USB_IDS
    std::vector<UsbNode> devices;
    UdevRule rule;
    bool root = false; // as root every node opens and every process is visible
};

struct SimEndpoint {
    enum class State { Answers, NotRunning, Busy, Foreign, BadPath, Failed };
    std::string socket;
    State state = State::NotRunning;
    std::string detail;
    long peerUid = -1;
    long peerPid = -1;
    bool programmingMode = false; // a simulated box is in programming mode
};

struct VendorLibrary {
    std::vector<std::string> looked; // folders, in the loader's order
    std::string found;               // the full path, or empty
    std::string fileVersion;         // "3.5.1.0"
    bool loads = false;
    std::string missingText; // the programs' message when it does not
};

// A device as the driver sees it, and what came of opening it.
struct DeviceSeen {
    unsigned index = 0;
    std::string linkName; // "usb:1-4"
    bool serialRead = false;
    std::string serial;
    std::string error; // the backend's words for a failed string read or open
    bool isBox = false;
    bool opened = false;
    bool answered = false; // the settings and version requests were answered
    std::string version;   // "ver: ..." (UTF-8)
};

struct Facts {
    std::string backend;    // "usb", "sim", "replay"
    std::string backendWhy; // "the default", "TELMAR_USB_BACKEND=sim", "--backend sim"
    std::string wantedSerial;
    std::optional<UsbSystem> usb;
    std::optional<SimEndpoint> sim;
    std::optional<VendorLibrary> library;
    bool counted = false;
    unsigned count = 0;
    std::string countError;
    std::string reachProblem; // Driver::reachProblem after the count and the opens
    std::vector<DeviceSeen> devices;
};

struct Findings {
    std::vector<Check> checks;
    bool usable = false; // a box opened and answered
};

Findings diagnose(const Facts& facts);

// 0 a box is usable, 1 a problem was found, 3 no box is there.
int exitCode(const Findings& findings);

std::string_view verdictName(Verdict verdict);
// One block per check: "[ok] found", then "      fix: ..." for a problem.
std::string formatText(const Findings& findings);
Json toJson(const Findings& findings);
Json toJson(const Facts& facts);

} // namespace telmar::doctor
