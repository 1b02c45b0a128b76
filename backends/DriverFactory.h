// SPDX-License-Identifier: MIT
#pragma once

#include "usb/Driver.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace telmar::backends {

// The driver a program uses, chosen by TELMAR_USB_BACKEND (see backendTable()); the
// complaints of the choice and of the backend go to standard error. nullptr when the
// variable names no backend: the program says backendVariableProblem() its own way and
// ends with exit code 2, as for an unknown command-line option.
std::unique_ptr<usb::Driver> createDriver();

// "" when TELMAR_USB_BACKEND is usable, else "TELMAR_USB_BACKEND: unknown backend ...".
std::string backendVariableProblem();

// The same for a backend asked for by name (a command-line option); empty means the
// default. nullptr for a name the table does not have.
std::unique_ptr<usb::Driver> createDriver(std::string_view backendName, std::ostream& err);

} // namespace telmar::backends
