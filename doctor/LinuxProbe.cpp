// SPDX-License-Identifier: MIT
#include "base/Printable.h"
#include "doctor/Probes.h"
#include "usb/UsbIdList.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <libusb.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <tuple>
#include <unistd.h>

namespace telmar::doctor {

namespace {

constexpr const char* kSysDevices = "/sys/bus/usb/devices";
constexpr const char* kRuleName = "60-telmar.rules";
// Where udev reads rules, in its order of precedence.
constexpr const char* kRuleFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                        "/usr/local/lib/udev/rules.d", "/usr/lib/udev/rules.d",
                                        "/lib/udev/rules.d"};
// More processes than that are not looked through for holders.
constexpr int kMaxProcesses = 100000;

std::string readFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] != '.') {
                names.emplace_back(e->d_name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

std::string linkTarget(const std::string& path) {
    char target[4096];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string{};
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

std::string modeText(const struct stat& st) {
    std::string text = S_ISCHR(st.st_mode) ? "c" : "-";
    const char* flags = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) {
        text += (st.st_mode & (0400u >> bit)) != 0 ? flags[bit] : '-';
    }
    const passwd* user = ::getpwuid(st.st_uid);
    const group* grp = ::getgrgid(st.st_gid);
    // The owner of a device node is a system account (root), never the person at the seat.
    text += " " + (user != nullptr && st.st_uid == 0 ? std::string(user->pw_name)
                                                     : "uid " + std::to_string(st.st_uid));
    text += ":" + (grp != nullptr ? std::string(grp->gr_name) : std::to_string(st.st_gid));
    return text;
}

// The processes whose open files include `node`. Without root only this user's are seen.
std::vector<Holder> holdersOf(const std::string& node) {
    std::vector<Holder> holders;
    const long self = static_cast<long>(::getpid());
    int looked = 0;
    for (const std::string& name : entries("/proc")) {
        if (name.find_first_not_of("0123456789") != std::string::npos || ++looked > kMaxProcesses) {
            continue;
        }
        const long pid = std::strtol(name.c_str(), nullptr, 10);
        if (pid == self) {
            continue;
        }
        const std::string fds = "/proc/" + name + "/fd";
        for (const std::string& fd : entries(fds)) {
            if (linkTarget(fds + "/" + fd) == node) {
                holders.push_back({pid, base::printable(readFirstLine("/proc/" + name + "/comm"))});
                break;
            }
        }
    }
    return holders;
}

UsbNode probeDevice(const std::string& sysName, const std::string& id) {
    const std::string dir = std::string(kSysDevices) + "/" + sysName;
    UsbNode d;
    d.sysName = sysName;
    d.id = id;
    d.bus =
        static_cast<unsigned>(std::strtoul(readFirstLine(dir + "/busnum").c_str(), nullptr, 10));
    d.address =
        static_cast<unsigned>(std::strtoul(readFirstLine(dir + "/devnum").c_str(), nullptr, 10));
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", d.bus, d.address);
    d.node = node;
    struct stat st {};
    d.nodeExists = ::stat(node, &st) == 0;
    if (d.nodeExists) {
        d.access = modeText(st);
        d.mayOpen = ::access(node, R_OK | W_OK) == 0;
    }
    for (const std::string& entry : entries(dir)) {
        // Interfaces are "1-4:1.0"; a bound one has a driver link.
        if (entry.rfind(sysName + ":", 0) == 0) {
            const std::string target = linkTarget(dir + "/" + entry + "/driver");
            if (!target.empty()) {
                d.kernelDrivers.push_back(target.substr(target.rfind('/') + 1) + " (" + entry +
                                          ")");
            }
        }
    }
    d.holders = holdersOf(d.node);
    return d;
}

} // namespace

UsbSystem probeUsbSystem() {
    UsbSystem usb;
    usb.root = ::geteuid() == 0;
    libusb_context* context = nullptr;
    const int rc = libusb_init(&context);
    usb.libusb = rc == LIBUSB_SUCCESS;
    usb.libusbVersion = usbLibraryVersion();
    if (usb.libusb) {
        libusb_exit(context);
    } else {
        usb.libusbError = libusb_error_name(rc);
    }

    const char* variable = std::getenv(usb::kUsbIdsVariable);
    std::vector<usb::UsbId> ids{usb::kDefaultUsbId};
    usb.idsFrom = "the default";
    if (variable != nullptr) {
        if (auto parsed = usb::parseUsbIdList(variable)) {
            ids = *parsed;
            usb.idsFrom = usb::kUsbIdsVariable;
        } else {
            usb.idsProblem = std::string(usb::kUsbIdsVariable) + " is malformed (\"" +
                             base::printable(variable, 80) + "\"); the default id is used";
        }
    }
    for (const auto& id : ids) {
        usb.ids.push_back(hex4(id.vendor) + ":" + hex4(id.product));
    }

    for (const std::string& name : entries(kSysDevices)) {
        if (name.find(':') != std::string::npos) {
            continue; // an interface, not a device
        }
        const std::string dir = std::string(kSysDevices) + "/" + name;
        const std::string id =
            readFirstLine(dir + "/idVendor") + ":" + readFirstLine(dir + "/idProduct");
        for (const std::string& wanted : usb.ids) {
            if (id == wanted) {
                usb.devices.push_back(probeDevice(name, id));
            }
        }
    }

    std::sort(usb.devices.begin(), usb.devices.end(), [](const UsbNode& a, const UsbNode& b) {
        return std::tie(a.bus, a.address) < std::tie(b.bus, b.address);
    });

    for (const char* folder : kRuleFolders) {
        const std::string path = std::string(folder) + "/" + kRuleName;
        usb.rule.looked.push_back(folder);
        if (usb.rule.found.empty() && ::access(path.c_str(), F_OK) == 0) {
            usb.rule.found = path;
            const std::string text = readAll(path);
            usb.rule.coversIds = true;
            for (const std::string& id : usb.ids) {
                const std::string vendor = "ATTR{idVendor}==\"" + id.substr(0, 4) + "\"";
                const std::string product = "ATTR{idProduct}==\"" + id.substr(5) + "\"";
                if (text.find(vendor) == std::string::npos ||
                    text.find(product) == std::string::npos) {
                    usb.rule.coversIds = false;
                }
            }
        }
    }
    return usb;
}

VendorLibrary probeVendorLibrary() {
    return {};
}

std::string usbLibraryVersion() {
    const libusb_version* v = libusb_get_version();
    return std::to_string(v->major) + "." + std::to_string(v->minor) + "." +
           std::to_string(v->micro);
}

std::string operatingSystem() {
    std::string text;
    utsname u{};
    if (::uname(&u) == 0) {
        text = std::string(u.sysname) + " " + u.release + " " + u.machine;
    }
    std::ifstream osRelease("/etc/os-release");
    for (std::string line; std::getline(osRelease, line);) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            std::string name = line.substr(12);
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
                name = name.substr(1, name.size() - 2);
            }
            text += ", " + base::printable(name, 100);
        }
    }
    return text;
}

} // namespace telmar::doctor
