// SPDX-License-Identifier: MIT
#pragma once

#include "doctor/Findings.h"

#include <string>

// The platform probes: what this machine says about the box's way to the programs.
// Each reads the system and nothing else; diagnose() makes the checks.
namespace telmar::doctor {

// Linux: libusb, the id list (TELMAR_USB_IDS), the devices with those ids in sysfs with
// their device nodes, who may open them, kernel drivers, the processes that hold them,
// and the udev rule.
UsbSystem probeUsbSystem();

// The simulator on `socket`: whether one answers, whose it is, and whether a simulated
// box is in programming mode.
SimEndpoint probeSimulator(const std::string& socket);
// Where the sim backend looks for its simulator (TELMAR_SIM_SOCKET or the default).
std::string simulatorSocket();

// Windows: where the vendor library was looked for and found, and its file version.
VendorLibrary probeVendorLibrary();

// "libusb 1.0.26", "SiUSBXp.dll 3.5.1.0" or "" when there is nothing to name.
std::string usbLibraryVersion();
// "Linux 6.1.0-18-amd64 x86_64, Debian GNU/Linux 12 (bookworm)": no host name.
std::string operatingSystem();

} // namespace telmar::doctor
