// SPDX-License-Identifier: MIT
#pragma once

#include "usb/Driver.h"

#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace telmar::backends {

// Variable that picks the driver backend by name; unset or empty means the default.
inline constexpr const char* kBackendVariable = "TELMAR_USB_BACKEND";

// Makes one backend's driver; complaints about its own settings go to `err`.
using MakeDriver = std::unique_ptr<usb::Driver> (*)(std::ostream& err);

struct BackendEntry {
    std::string_view name;
    std::string_view description;
    // Null for a backend this build was configured without.
    MakeDriver make;
};

// Every backend a program can be asked for, the default first. A new backend is
// one row here.
std::span<const BackendEntry> backendTable();

// The environment section of a program's --help: the backend variable with every
// backend this build has, and the variables those backends read.
std::string environmentHelp();

// "" when `value` picks a backend (unset and empty pick the default), else the one line
// that says it names none. A typo must not quietly mean the real box.
std::string backendNameProblem(const char* value);

// The entry for a name (unset or empty: the default), or nullptr for a name the table
// does not have, named on `err` in one line.
const BackendEntry* chooseBackend(const char* value, std::ostream& err);

} // namespace telmar::backends
