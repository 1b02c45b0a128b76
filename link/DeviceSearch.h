// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "link/Messages.h"
#include "usb/Driver.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace telmar::link {

// The serial string by which the programs find the box.
inline constexpr std::string_view kBoxSerial = "2031";

// The index of the first device whose serial string is `wanted`; nullopt also when
// counting fails. `unreadable` runs for each serial string that cannot be read.
std::optional<std::uint32_t> findSerial(usb::Driver& driver, std::string_view wanted,
                                        const std::function<void()>& unreadable = {});

// Polls the receive queue until a reply waits, giving up `timeoutMs` after `start` or
// once `stop` is set. A failed check shows `failedText` and spoils the wait, which still
// goes on. nullptr when a reply waits, else why there is none, for the log.
const char* waitForReply(usb::Driver& driver, Clock& clock, usb::Handle handle, std::uint32_t start,
                         std::uint32_t timeoutMs, MessageSink& messages,
                         std::string_view failedText, const std::atomic<bool>* stop = nullptr);

// True when the driver's device string equals `wanted` exactly: same length, same
// bytes, no trimming. A string the driver left unterminated ends at the buffer's end.
bool serialMatches(const char (&buffer)[usb::kDeviceStringSize], std::string_view wanted);

// Closes `handle` if one is open, shows "Unable to close device handle!" when that
// fails, and leaves `handle` at kNoHandle in every case.
void closeDeviceHandle(usb::Driver& driver, MessageSink& messages, usb::Handle& handle);

// For the debug log: "status 5 (write: LIBUSB_ERROR_PIPE)".
std::string failureText(const usb::Driver& driver, usb::Status status);

inline constexpr std::string_view kCloseFailedText = "Unable to close device handle!";

} // namespace telmar::link
