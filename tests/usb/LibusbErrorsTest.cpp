// SPDX-License-Identifier: MIT
#include "usb/LibusbDriver.h"

#include <gtest/gtest.h>
#include <libusb.h>
#include <sstream>

namespace {

using namespace telmar::usb;

TEST(LibusbErrors, EveryFailureMapsToANonZeroStatus) {
    struct Case {
        int code;
        Status status;
    };
    const Case cases[] = {
        {LIBUSB_SUCCESS, kSuccess},
        {5, kSuccess}, // a byte count
        {LIBUSB_ERROR_IO, kDeviceIoFailed},
        {LIBUSB_ERROR_INVALID_PARAM, kInvalidParameter},
        {LIBUSB_ERROR_ACCESS, kAccessDenied},
        {LIBUSB_ERROR_NO_DEVICE, kDeviceNotFound},
        {LIBUSB_ERROR_NOT_FOUND, kDeviceNotFound},
        {LIBUSB_ERROR_BUSY, kDeviceIoFailed},
        {LIBUSB_ERROR_TIMEOUT, kTimedOut},
        {LIBUSB_ERROR_OVERFLOW, kDeviceIoFailed},
        {LIBUSB_ERROR_PIPE, kDeviceIoFailed},
        {LIBUSB_ERROR_INTERRUPTED, kDeviceIoFailed},
        {LIBUSB_ERROR_NO_MEM, kDeviceIoFailed},
        {LIBUSB_ERROR_NOT_SUPPORTED, kNotSupported},
        {LIBUSB_ERROR_OTHER, kDeviceIoFailed},
        {-1000, kDeviceIoFailed}, // a code newer than this build
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusFromLibusb(c.code), c.status) << c.code;
    }
}

TEST(LibusbErrors, PermissionHintIsOneLineWithTheRulesFileAndReload) {
    const std::string hint(permissionHint());
    EXPECT_EQ(hint.find('\n'), std::string::npos);
    EXPECT_NE(hint.find("60-telmar.rules"), std::string::npos);
    EXPECT_NE(hint.find("udevadm control --reload-rules"), std::string::npos);
}

// Without a USB file system (as in this sandbox, outside the emulation) the driver
// still answers: counting fails, and nothing else pretends to succeed.
TEST(LibusbDriver, CallsWithoutADeviceFailCleanly) {
    std::ostringstream err;
    LibusbDriver driver({kDefaultUsbId}, err);
    std::uint32_t count = 0;
    const Status counted = driver.getNumDevices(count);
    if (counted == kSuccess && count > 0) {
        GTEST_SKIP() << "a real device with the box's id is attached";
    }
    char text[kDeviceStringSize] = {};
    EXPECT_NE(driver.getDeviceString(0, text, kStringSerialNumber), kSuccess);
    EXPECT_EQ(driver.getDeviceString(0, text, 7), kInvalidParameter);
    Handle handle = 0;
    EXPECT_NE(driver.open(0, handle), kSuccess);
    EXPECT_EQ(handle, kNoHandle);
    std::uint32_t n = 0;
    std::uint32_t state = 0;
    EXPECT_EQ(driver.checkRxQueue(1, n, state), kInvalidHandle);
    EXPECT_EQ(driver.close(kNoHandle), kInvalidHandle);
    EXPECT_EQ(driver.write(1, text, 1, n), kInvalidHandle);
    EXPECT_EQ(driver.read(1, text, 1, n), kInvalidHandle);
    EXPECT_EQ(driver.flushBuffers(1, 1, 1), kInvalidHandle);
    EXPECT_EQ(driver.lastError(), "flushBuffers: no such handle");
    // The libusb error keeps its name and the operation that met it.
    EXPECT_EQ(driver.open(0, handle) == kSuccess ? "" : driver.lastError().substr(0, 6), "open: ");
    EXPECT_TRUE(driver.lastError().find("LIBUSB_ERROR_") != std::string::npos ||
                driver.lastError() == "open: no device at index 0")
        << driver.lastError();

    std::uint32_t readMs = 0;
    std::uint32_t writeMs = 0;
    EXPECT_EQ(driver.setTimeouts(4000, 0), kSuccess);
    EXPECT_EQ(driver.getTimeouts(readMs, writeMs), kSuccess);
    EXPECT_EQ(readMs, 4000u);
    EXPECT_EQ(writeMs, 0u);
    EXPECT_EQ(err.str(), "");
}

} // namespace
