// SPDX-License-Identifier: MIT
#include "doctor/Findings.h"

#include <algorithm>

namespace telmar::doctor {

namespace {

constexpr const char* kRuleFile = "60-telmar.rules";
constexpr const char* kApplyRule = "sudo udevadm control --reload-rules && sudo udevadm trigger, "
                                   "or unplug the box and plug it in again";

std::string joined(const std::vector<std::string>& items, const std::string& separator) {
    std::string text;
    for (const auto& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

std::string where(const UsbNode& node) {
    return "bus " + std::to_string(node.bus) + " address " + std::to_string(node.address) + " (" +
           node.sysName + ", " + node.id + ")";
}

class Checks {
  public:
    void ok(std::string id, std::string found) {
        list.push_back({std::move(id), Verdict::Ok, std::move(found), {}, false});
    }
    void warn(std::string id, std::string found, std::string fix = {}) {
        list.push_back({std::move(id), Verdict::Warning, std::move(found), std::move(fix), false});
    }
    void problem(std::string id, std::string found, std::string fix, bool absence = false) {
        list.push_back(
            {std::move(id), Verdict::Problem, std::move(found), std::move(fix), absence});
    }
    std::vector<Check> list;
};

void usbSystemChecks(const UsbSystem& usb, Checks& c) {
    if (usb.libusb) {
        c.ok("usb.libusb", "libusb " + usb.libusbVersion + " is available and starts");
    } else {
        c.problem("usb.libusb", "libusb cannot start: " + usb.libusbError,
                  "install libusb-1.0 (Debian: sudo apt install libusb-1.0-0) and check that "
                  "/dev/bus/usb exists");
    }
    if (!usb.idsProblem.empty()) {
        c.warn("usb.ids", usb.idsProblem, "fix TELMAR_USB_IDS: vvvv:pppp[,vvvv:pppp...] in hex");
    } else {
        c.ok("usb.ids", "the box's USB ids: " + joined(usb.ids, ", ") + " (" + usb.idsFrom + ")");
    }
    if (usb.devices.empty()) {
        c.problem("usb.devices",
                  "no device with the id " + joined(usb.ids, " or ") + " is on the USB bus",
                  "plug the box in, with a data cable, directly or through a powered hub; "
                  "lsusb must list " +
                      joined(usb.ids, " or "),
                  true);
    } else {
        std::vector<std::string> listed;
        for (const auto& d : usb.devices) {
            listed.push_back(where(d));
        }
        c.ok("usb.devices", std::to_string(usb.devices.size()) +
                                (usb.devices.size() == 1 ? " device" : " devices") +
                                " with the box's id: " + joined(listed, "; "));
    }

    const bool anyRefused =
        std::any_of(usb.devices.begin(), usb.devices.end(),
                    [](const UsbNode& d) { return d.nodeExists && !d.mayOpen; });
    const std::string notInstalled = "the udev rule " + std::string(kRuleFile) +
                                     " is not installed (looked in " +
                                     joined(usb.rule.looked, ", ") + ")";
    if (!usb.rule.found.empty() && usb.rule.coversIds) {
        c.ok("usb.udev-rule", "the udev rule is installed: " + usb.rule.found);
    } else if (!usb.rule.found.empty()) {
        c.warn("usb.udev-rule",
               "the udev rule " + usb.rule.found + " does not name every id in use (" +
                   joined(usb.ids, ", ") + ")",
               "add a line for each extra id to a rules file in /etc/udev/rules.d, then " +
                   std::string(kApplyRule));
    } else if (anyRefused) {
        c.problem("usb.udev-rule", notInstalled,
                  "sudo cp " + std::string(kRuleFile) +
                      " /etc/udev/rules.d/ (it comes with the package; a build has it in "
                      "build/packaging/), then " +
                      kApplyRule);
    } else {
        c.warn("usb.udev-rule",
               notInstalled + (usb.root ? "; as root the box opens without it" : ""),
               "for use without root: sudo cp " + std::string(kRuleFile) +
                   " /etc/udev/rules.d/, then " + kApplyRule);
    }

    for (const auto& d : usb.devices) {
        const std::string at = where(d);
        if (!d.nodeExists) {
            c.problem("usb.access", at + ": its device node " + d.node + " does not exist",
                      "unplug the box and plug it in again; check that udev runs");
        } else if (d.mayOpen) {
            c.ok("usb.access", at + ": this user may open " + d.node + " (" + d.access + ")");
        } else if (usb.rule.found.empty()) {
            c.problem("usb.access",
                      at + ": this user may not open " + d.node + " (" + d.access +
                          "): no udev rule gives access",
                      "install the udev rule (see usb.udev-rule), then " + std::string(kApplyRule));
        } else {
            c.problem("usb.access",
                      at + ": this user may not open " + d.node + " (" + d.access +
                          "), though the udev rule " + usb.rule.found + " is installed",
                      std::string(kApplyRule) +
                          ". The rule gives access to the user at the seat; over SSH, add "
                          "GROUP=\"plugdev\", MODE=\"0660\" to it and join that group");
        }
        if (d.kernelDrivers.empty()) {
            c.ok("usb.kernel-driver", at + ": no kernel driver is bound to its interface");
        } else {
            c.warn("usb.kernel-driver",
                   at + ": the kernel driver " + joined(d.kernelDrivers, ", ") +
                       " is bound to its interface; the programs detach it while they use the "
                       "box and give it back afterwards");
        }
        if (d.holders.empty()) {
            c.ok("usb.holders", at + ": no other process has it open" +
                                    (usb.root ? std::string{}
                                              : std::string(" (other users' processes cannot be "
                                                            "seen)")));
        } else {
            std::vector<std::string> names;
            for (const auto& h : d.holders) {
                names.push_back(h.name + " (pid " + std::to_string(h.pid) + ")");
            }
            c.problem("usb.holders", at + ": held by " + joined(names, ", "),
                      "close " + joined(names, ", ") +
                          ": one program at a time can use the box (the control panel, "
                          "telmarctl or the updater)");
        }
    }
}

void simChecks(const SimEndpoint& sim, Checks& c) {
    using State = SimEndpoint::State;
    switch (sim.state) {
    case State::Answers:
        c.ok("sim.daemon", "a simulator of this user (uid " + std::to_string(sim.peerUid) +
                               ", pid " + std::to_string(sim.peerPid) + ") answers on " +
                               sim.socket);
        break;
    case State::NotRunning:
        c.problem("sim.daemon", "no simulator is running on " + sim.socket,
                  "start one: telmar-sim serve (it serves TELMAR_SIM_SOCKET or the default "
                  "socket)",
                  true);
        break;
    case State::Busy:
        c.problem("sim.daemon",
                  "the simulator on " + sim.socket +
                      " is too busy to accept a connection: its queue of waiting connections "
                      "is full",
                  "try again in a moment; if it stays so, stop the programs that flood it or "
                  "restart telmar-sim");
        break;
    case State::Foreign:
        c.problem("sim.daemon", sim.detail,
                  "start a simulator of your own on a socket of your own: "
                  "TELMAR_SIM_SOCKET=/path/to/sock telmar-sim serve");
        break;
    case State::BadPath:
    case State::Failed:
        c.problem("sim.daemon", sim.detail, "set TELMAR_SIM_SOCKET to a usable socket path");
        break;
    }
    if (sim.programmingMode) {
        c.warn("box.programming-mode",
               "the simulated box is in programming mode (an update did not end)",
               "run the update again: telmarctl update fpga1|fpga2");
    }
}

void libraryChecks(const VendorLibrary& lib, Checks& c) {
    if (lib.loads) {
        c.ok("windows.library",
             lib.found + (lib.fileVersion.empty() ? "" : ", file version " + lib.fileVersion) +
                 " (looked in " + joined(lib.looked, ", ") + ")");
    } else {
        c.problem("windows.library",
                  lib.missingText + " (looked in " + joined(lib.looked, ", ") + ")",
                  "put the 64-bit SiUSBXp.dll from the box's driver package beside "
                  "telmarctl.exe and LUMORA_GUI.exe, and install that driver package");
    }
}

void boxChecks(const Facts& f, Checks& c, bool& usable) {
    if (!f.counted) {
        c.problem("box.count",
                  "the devices could not be counted: " +
                      (f.reachProblem.empty() ? f.countError : f.reachProblem),
                  "see the checks above");
        return;
    }
    c.ok("box.count", "the " + f.backend + " backend counts " + std::to_string(f.count) +
                          (f.count == 1 ? " device" : " devices"));
    for (const auto& d : f.devices) {
        const std::string at = "device " + std::to_string(d.index) +
                               (d.linkName.empty() ? "" : " (" + d.linkName + ")");
        if (!d.serialRead) {
            c.problem("box.serial", at + ": its serial string cannot be read: " + d.error,
                      "see usb.access and usb.holders");
            continue;
        }
        if (!d.isBox) {
            c.warn("box.serial", at + ": serial \"" + d.serial + "\", not " + f.wantedSerial +
                                     ": not a TELMAR box");
            continue;
        }
        if (!d.opened) {
            c.problem("box.open",
                      at + ": the box (serial " + d.serial + ") cannot be opened: " + d.error,
                      "close any other program that uses it; see usb.access and usb.holders");
        } else if (!d.answered) {
            c.problem("box.answers",
                      at + ": the box (serial " + d.serial +
                          ") opens but does not answer the settings and version requests; it "
                          "may have been left in programming mode by an update that did not end",
                      "run the update again (telmarctl update fpga1|fpga2, or Reflasher-FPGA1 "
                      "and Reflasher-FPGA2); unplug and plug in the box if it still does not "
                      "answer");
        } else {
            usable = true;
            c.ok("box.open", at + ": serial " + d.serial + ", firmware " + d.version);
        }
    }
}

} // namespace

Findings diagnose(const Facts& f) {
    Checks c;
    c.ok("backend", f.backend + " backend (" + f.backendWhy + ")");
    if (f.usb) {
        usbSystemChecks(*f.usb, c);
    }
    if (f.sim) {
        simChecks(*f.sim, c);
    }
    if (f.library) {
        libraryChecks(*f.library, c);
    }
    Findings findings;
    boxChecks(f, c, findings.usable);
    // The backend's own view adds nothing once the system checks named the problem.
    const bool named = std::any_of(c.list.begin(), c.list.end(),
                                   [](const Check& k) { return k.verdict == Verdict::Problem; });
    if (!findings.usable && !named) {
        const bool none = f.counted && std::none_of(f.devices.begin(), f.devices.end(),
                                                    [](const DeviceSeen& d) { return d.isBox; });
        if (!f.reachProblem.empty()) {
            c.problem("box.reach", f.reachProblem, "see the checks above");
        } else if (none) {
            c.problem("box.found", "no TELMAR box (serial " + f.wantedSerial + ") was found",
                      "plug the box in; the serial string of a box is " + f.wantedSerial, true);
        }
    }
    findings.checks = std::move(c.list);
    return findings;
}

int exitCode(const Findings& findings) {
    if (findings.usable) {
        return 0;
    }
    const bool problem = std::any_of(findings.checks.begin(), findings.checks.end(), [](auto& k) {
        return k.verdict == Verdict::Problem && !k.absence;
    });
    return problem ? 1 : 3;
}

std::string_view verdictName(Verdict verdict) {
    constexpr std::string_view kNames[] = {"ok", "warning", "problem"};
    return kNames[std::min<std::size_t>(static_cast<std::size_t>(verdict), 2)];
}

std::string formatText(const Findings& findings) {
    std::string text;
    for (const auto& k : findings.checks) {
        // Appended piece by piece: GCC 12 warns about the temporaries of a `+` chain here.
        const std::string_view name = verdictName(k.verdict);
        text.append("[").append(name).append("]").append(8 - name.size(), ' ');
        text.append(k.id).append(": ").append(k.found).append("\n");
        if (!k.fix.empty()) {
            text.append("          fix: ").append(k.fix).append("\n");
        }
    }
    text += findings.usable ? "A TELMAR box is ready to use.\n"
                            : (exitCode(findings) == 3 ? "No TELMAR box was found.\n"
                                                       : "No TELMAR box can be used: see the "
                                                         "problems above.\n");
    return text;
}

Json toJson(const Findings& findings) {
    Json checks = Json::array();
    for (const auto& k : findings.checks) {
        Json j{{"id", k.id}, {"verdict", verdictName(k.verdict)}, {"found", k.found}};
        if (!k.fix.empty()) {
            j["fix"] = k.fix;
        }
        checks.push_back(std::move(j));
    }
    return Json{{"checks", std::move(checks)},
                {"usable", findings.usable},
                {"exit_code", exitCode(findings)}};
}

Json toJson(const Facts& f) {
    Json j{{"backend", f.backend}, {"backend_chosen_by", f.backendWhy}};
    if (f.usb) {
        Json devices = Json::array();
        for (const auto& d : f.usb->devices) {
            Json holders = Json::array();
            for (const auto& h : d.holders) {
                holders.push_back({{"pid", h.pid}, {"name", h.name}});
            }
            devices.push_back({{"sysfs", d.sysName},
                               {"bus", d.bus},
                               {"address", d.address},
                               {"id", d.id},
                               {"node", d.node},
                               {"may_open", d.mayOpen},
                               {"access", d.access},
                               {"kernel_drivers", d.kernelDrivers},
                               {"holders", std::move(holders)}});
        }
        j["usb"] = {
            {"libusb", f.usb->libusb ? Json(f.usb->libusbVersion) : Json(nullptr)},
            {"ids", f.usb->ids},
            {"ids_from", f.usb->idsFrom},
            {"udev_rule", f.usb->rule.found.empty() ? Json(nullptr) : Json(f.usb->rule.found)},
            {"devices", std::move(devices)}};
    }
    if (f.sim) {
        j["sim"] = {{"socket", f.sim->socket},
                    {"answers", f.sim->state == SimEndpoint::State::Answers},
                    {"peer_uid", f.sim->peerUid},
                    {"peer_pid", f.sim->peerPid}};
    }
    if (f.library) {
        j["library"] = {{"found", f.library->found},
                        {"file_version", f.library->fileVersion},
                        {"looked", f.library->looked}};
    }
    Json devices = Json::array();
    for (const auto& d : f.devices) {
        devices.push_back({{"index", d.index},
                           {"link", d.linkName},
                           {"serial", d.serialRead ? Json(d.serial) : Json(nullptr)},
                           {"box", d.isBox},
                           {"opened", d.opened},
                           {"answered", d.answered},
                           {"version", d.version}});
    }
    j["devices"] = std::move(devices);
    return j;
}

} // namespace telmar::doctor
