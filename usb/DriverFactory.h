// SPDX-License-Identifier: MIT
#pragma once

#include "usb/Driver.h"

#include <memory>

namespace telmar::usb {

// The driver the programs use, chosen by TELMAR_USB_BACKEND: "usb" (the default:
// libusb, or the vendor library on Windows) or "sim" (the simulated box, where
// this build has it). An unknown value is named on standard error and the default
// is used.
std::unique_ptr<Driver> createDriver();

} // namespace telmar::usb
