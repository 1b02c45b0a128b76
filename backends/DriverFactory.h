// SPDX-License-Identifier: MIT
#pragma once

#include "usb/Driver.h"

#include <iosfwd>
#include <memory>
#include <string_view>

namespace telmar::backends {

// The driver a program uses, chosen by TELMAR_USB_BACKEND (see backendTable()); the
// complaints of the choice and of the backend go to standard error.
std::unique_ptr<usb::Driver> createDriver();

// The same for a backend asked for by name (a command-line option); empty means the
// default.
std::unique_ptr<usb::Driver> createDriver(std::string_view backendName, std::ostream& err);

} // namespace telmar::backends
