// SPDX-License-Identifier: MIT
#pragma once

#include "link/Messages.h"
#include "usb/Driver.h"

#include <string_view>

namespace telmar::link {

// True when the driver's device string equals `wanted` exactly: same length, same
// bytes, no trimming. A string the driver left unterminated ends at the buffer's end.
bool serialMatches(const char (&buffer)[usb::kDeviceStringSize], std::string_view wanted);

// Closes `handle` if one is open, shows "Unable to close device handle!" when that
// fails, and leaves `handle` at kNoHandle in every case.
void closeDeviceHandle(usb::Driver& driver, MessageSink& messages, usb::Handle& handle);

inline constexpr std::string_view kCloseFailedText = "Unable to close device handle!";

} // namespace telmar::link
