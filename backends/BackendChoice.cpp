// SPDX-License-Identifier: MIT
#include "backends/BackendChoice.h"

#include "backends/Diagnostics.h"
#include "base/Log.h"
#include "base/Printable.h"
#include "usb/UsbIdList.h"

#include <cstdlib>
#include <ostream>
#include <string>

#ifdef _WIN32
#include "usb/VendorDllDriver.h"
#else
#include "usb/LibusbDriver.h"
#endif

#if TELMAR_WITH_SIM
#include "sim/SimDriver.h"
#endif

namespace telmar::backends {

namespace {

std::unique_ptr<usb::Driver> makeUsb([[maybe_unused]] std::ostream& err) {
#ifdef _WIN32
    return std::make_unique<usb::VendorDllDriver>();
#else
    return std::make_unique<usb::LibusbDriver>(
        usb::usbIdsFromEnvironment(std::getenv(usb::kUsbIdsVariable), err), err);
#endif
}

#if TELMAR_WITH_SIM
std::unique_ptr<usb::Driver> makeSim(std::ostream&) {
    return sim::createSimDriver();
}
#else
constexpr MakeDriver makeSim = nullptr;
#endif

std::unique_ptr<usb::Driver> makeReplay(std::ostream& err) {
    return createReplayDriver(std::getenv(kReplayVariable), err);
}

const BackendEntry kBackends[] = {
    {"usb", "the box on USB", makeUsb},
    {"sim", "the simulated box (telmar-sim)", makeSim},
    {"replay", "a recorded session (TELMAR_REPLAY=FILE)", makeReplay},
};

} // namespace

std::span<const BackendEntry> backendTable() {
    return kBackends;
}

std::string environmentHelp() {
    std::string text = "Environment:\n  " + std::string(kBackendVariable) + "\n";
    for (const BackendEntry& entry : kBackends) {
        if (entry.make != nullptr) {
            text += "      " + std::string(entry.name) +
                    (&entry == kBackends ? " (default): " : ": ") + std::string(entry.description) +
                    "\n";
        }
    }
#ifndef _WIN32
    text += "  " + std::string(usb::kUsbIdsVariable) +
            "\n      USB ids that count as a box: vvvv:pppp[,vvvv:pppp...] in hex\n";
#endif
#if TELMAR_WITH_SIM
    text += "  TELMAR_SIM_SOCKET\n      the simulated box's socket\n";
#endif
    text += "  " + std::string(kReplayVariable) +
            "\n      the recorded session the replay backend plays\n";
    text += "  " + std::string(kTraceVariable) +
            "\n      a file to record every driver call of the session into\n";
    text += "  " + std::string(base::kDebugVariable) +
            "\n      1: log every driver call and exchange to standard error\n";
    return text;
}

namespace {

const BackendEntry* findBackend(const char* value) {
    if (value == nullptr || *value == '\0') {
        return &kBackends[0];
    }
    for (const BackendEntry& entry : kBackends) {
        if (entry.name == value) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

std::string backendNameProblem(const char* value) {
    if (findBackend(value) != nullptr) {
        return {};
    }
    std::string known;
    for (const BackendEntry& entry : kBackends) {
        known += known.empty() ? "" : " or ";
        known += entry.name;
    }
    return "unknown backend \"" + base::printable(value) + "\" (expected " + known + ")";
}

const BackendEntry* chooseBackend(const char* value, std::ostream& err) {
    const BackendEntry* entry = findBackend(value);
    if (entry == nullptr) {
        err << kBackendVariable << ": " << backendNameProblem(value) << std::endl;
    }
    return entry;
}

} // namespace telmar::backends
