// SPDX-License-Identifier: MIT
#pragma once

#include "usb/Driver.h"
#include "usb/UsbIdList.h"

#include <iosfwd>
#include <memory>
#include <string_view>
#include <vector>

namespace telmar::usb {

// The driver seam over libusb-1.0: the devices whose ids are in the list, in bus
// order. Bytes from the box are gathered packet by packet by bulk IN transfers on a
// background event thread into a per-handle receive buffer; reads and queue checks
// take from it. A read short of its count waits for more up to the read time-out,
// but no longer than to the end of the box's reply (a short packet): the panel asks
// for 64 bytes and gets fewer, and must not sit out the time-out every time.
//
// A time-out of 0 means "do not wait": a read returns what is buffered, a write
// gets the shortest transfer time-out libusb knows short of "forever".
class LibusbDriver final : public Driver {
  public:
    // `err` receives the one-line hint when the system denies access to a device.
    explicit LibusbDriver(std::vector<UsbId> ids, std::ostream& err);
    ~LibusbDriver() override;

    LibusbDriver(const LibusbDriver&) = delete;
    LibusbDriver& operator=(const LibusbDriver&) = delete;

    TELMAR_USB_DRIVER_CALLS;
    // "write: LIBUSB_ERROR_PIPE": the operation and libusb's name for its error.
    std::string lastError() const override;
    // A device of the box's ids that the system refused to open (permission, or
    // claimed by another program); empty after a count finds nothing in the way.
    std::string reachProblem() const override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The driver status for a libusb error code (>= 0 is success).
Status statusFromLibusb(int code);

// What a user must do when the system refuses the device: one line, no newline.
std::string_view permissionHint();

// Vendor control requests of the box's USB interface (bmRequestType 0x40).
inline constexpr std::uint8_t kVendorRequestType = 0x40;
inline constexpr std::uint8_t kRequestEnable = 0x00;
inline constexpr std::uint16_t kValueEnable = 0xFFFF;
inline constexpr std::uint8_t kRequestControl = 0x02;
inline constexpr std::uint16_t kValuePurge = 0x0001;
inline constexpr std::uint16_t kValueDeviceOpen = 0x0002;
inline constexpr std::uint16_t kValueDeviceClose = 0x0004;

} // namespace telmar::usb
