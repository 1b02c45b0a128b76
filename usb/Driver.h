// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace telmar::usb {

// 0 is success; every other value is a failure. The link only ever tests for 0.
using Status = std::uint32_t;

constexpr Status kSuccess = 0;
constexpr Status kInvalidHandle = 1;
constexpr Status kReadError = 2;
constexpr Status kWriteError = 3;
constexpr Status kInvalidParameter = 4;
constexpr Status kDeviceIoFailed = 5;
constexpr Status kNotSupported = 6;
constexpr Status kDeviceNotFound = 7;
constexpr Status kTimedOut = 8;
constexpr Status kAccessDenied = 9;
constexpr Status kLibraryMissing = 10;

// Pointer-sized; all bits set means no device is open.
using Handle = std::uintptr_t;
constexpr Handle kNoHandle = ~Handle{0};

// Options of getDeviceString.
constexpr std::uint32_t kStringSerialNumber = 0;
constexpr std::uint32_t kStringDescription = 1;
constexpr std::uint32_t kStringLinkName = 2;
constexpr std::uint32_t kStringVid = 3;
constexpr std::uint32_t kStringPid = 4;

constexpr std::size_t kDeviceStringSize = 256;

// Fills a getDeviceString buffer: cut to fit, zero-terminated.
inline void copyDeviceString(char* buffer, std::string_view text) {
    const std::size_t n = std::min(text.size(), kDeviceStringSize - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// The driver functions the device link uses, one method each. The comments give
// the ordinal by which the vendor library exports the same function.
class Driver {
  public:
    virtual ~Driver() = default;

    // 1
    virtual Status getNumDevices(std::uint32_t& count) = 0;
    // 2: fills a zero-terminated string of at most kDeviceStringSize bytes.
    virtual Status getDeviceString(std::uint32_t index, char* buffer, std::uint32_t option) = 0;
    // 3
    virtual Status open(std::uint32_t index, Handle& handle) = 0;
    // 4
    virtual Status close(Handle handle) = 0;
    // 6: a short read is not an error; bytesRead tells how many arrived.
    virtual Status read(Handle handle, void* buffer, std::uint32_t count,
                        std::uint32_t& bytesRead) = 0;
    // 7
    virtual Status write(Handle handle, const void* buffer, std::uint32_t count,
                         std::uint32_t& bytesWritten) = 0;
    // 9
    virtual Status flushBuffers(Handle handle, std::uint8_t flushTransmit,
                                std::uint8_t flushReceive) = 0;
    // 10: library-wide, not per handle.
    virtual Status setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) = 0;
    // 11
    virtual Status getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) = 0;
    // 12
    virtual Status checkRxQueue(Handle handle, std::uint32_t& bytesQueued,
                                std::uint32_t& queueStatus) = 0;

    // True when every device behind this driver is a simulated box, never hardware:
    // the only place an image that is not firmware may be written to. Decorators
    // forward it.
    virtual bool simulatedBox() const { return false; }

    // The backend's own words for its latest failure ("write: LIBUSB_ERROR_PIPE"),
    // for logs and traces; empty when it has none. The status stays what counts.
    virtual std::string lastError() const { return {}; }

    // Why no box can be reached, in words for the user, when the backend knows more
    // than "none is there": its library is missing, a device with the box's id is on
    // the bus but this user may not open it or another program holds it, no simulator
    // answers. Empty otherwise. The latest count, device string or open decides it.
    virtual std::string reachProblem() const { return {}; }
};

// The device string at `index`, ended within the buffer whatever the driver left in it;
// nullopt when it cannot be read.
inline std::optional<std::string> readDeviceString(Driver& driver, std::uint32_t index,
                                                   std::uint32_t option) {
    char buffer[kDeviceStringSize] = {};
    if (driver.getDeviceString(index, buffer, option) != kSuccess) {
        return std::nullopt;
    }
    buffer[kDeviceStringSize - 1] = '\0';
    return std::string(buffer);
}

// Declares the ten calls in the class of a backend that defines them in its source file.
#define TELMAR_USB_DRIVER_CALLS                                                                    \
    ::telmar::usb::Status getNumDevices(std::uint32_t& count) override;                            \
    ::telmar::usb::Status getDeviceString(std::uint32_t index, char* buffer, std::uint32_t option) \
        override;                                                                                  \
    ::telmar::usb::Status open(std::uint32_t index, ::telmar::usb::Handle& handle) override;       \
    ::telmar::usb::Status close(::telmar::usb::Handle handle) override;                            \
    ::telmar::usb::Status read(::telmar::usb::Handle handle, void* buffer, std::uint32_t count,    \
                               std::uint32_t& bytesRead) override;                                 \
    ::telmar::usb::Status write(::telmar::usb::Handle handle, const void* buffer,                  \
                                std::uint32_t count, std::uint32_t& bytesWritten) override;        \
    ::telmar::usb::Status flushBuffers(::telmar::usb::Handle handle, std::uint8_t flushTransmit,   \
                                       std::uint8_t flushReceive) override;                        \
    ::telmar::usb::Status setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override;       \
    ::telmar::usb::Status getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) override;     \
    ::telmar::usb::Status checkRxQueue(::telmar::usb::Handle handle, std::uint32_t& bytesQueued,   \
                                       std::uint32_t& queueStatus) override

// Queue status reported by checkRxQueue; the link does not examine it.
constexpr std::uint32_t kRxQueueEmpty = 0;
constexpr std::uint32_t kRxQueueReady = 2;

} // namespace telmar::usb
