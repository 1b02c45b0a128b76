// SPDX-License-Identifier: MIT
#pragma once

#include "tests/usb/emulation/UsbTestbed.h"

#include <string>

namespace telmar::test::usbemu {

// The simulated box behind an emulated device, so that the simulated and the USB
// path are answered by the same box.
Responder boxResponder(const std::string& serial);

} // namespace telmar::test::usbemu
