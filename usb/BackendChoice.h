// SPDX-License-Identifier: MIT
#pragma once

#include <iosfwd>

namespace telmar::usb {

enum class Backend { Usb, Sim };

// Variable that picks the driver backend: "usb" (default) or "sim".
inline constexpr const char* kBackendVariable = "TELMAR_USB_BACKEND";

// The backend for the variable's value (nullptr when unset). An unknown value is
// named on `err` in one line and the default is used.
Backend chooseBackend(const char* value, std::ostream& err);

} // namespace telmar::usb
