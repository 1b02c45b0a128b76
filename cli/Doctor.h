// SPDX-License-Identifier: MIT
#pragma once

#include "cli/Commands.h"
#include "usb/Driver.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace telmar::cli {

// What only the program knows: the backend, why it was chosen, the version, and how a
// session is recorded (the recorder is the composition root's).
struct DoctorSetup {
    std::string backend;    // "usb", "sim", "replay"
    std::string backendWhy; // "the default", "TELMAR_USB_BACKEND=sim", "--backend sim"
    std::string version;
    // The driver calls made through the returned driver go to `trace` in the trace format.
    std::function<std::unique_ptr<usb::Driver>(usb::Driver& inner, std::ostream& trace)> record;
};

// telmarctl doctor [--json] [--report FILE]. 0 a box is usable, 1 a problem was found,
// 3 no box is there.
int runDoctor(Context& c, const DoctorSetup& setup);

} // namespace telmar::cli
