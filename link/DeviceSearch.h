// SPDX-License-Identifier: MIT
#pragma once

#include "link/Messages.h"
#include "usb/Driver.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace telmar::link {

// True when the driver's device string equals `wanted` exactly: same length, same
// bytes, no trimming. A string the driver left unterminated ends at the buffer's end.
bool serialMatches(const char (&buffer)[usb::kDeviceStringSize], std::string_view wanted);

// Closes `handle` if one is open, shows "Unable to close device handle!" when that
// fails, and leaves `handle` at kNoHandle in every case.
void closeDeviceHandle(usb::Driver& driver, MessageSink& messages, usb::Handle& handle);

// For the debug log: "status 5 (write: LIBUSB_ERROR_PIPE)".
std::string failureText(const usb::Driver& driver, usb::Status status);

// For the debug log: one line per device string the search reads.
void logDeviceString(const usb::Driver& driver, std::uint32_t index, usb::Status status,
                     const char (&buffer)[usb::kDeviceStringSize], std::string_view wanted);

inline constexpr std::string_view kCloseFailedText = "Unable to close device handle!";

} // namespace telmar::link
