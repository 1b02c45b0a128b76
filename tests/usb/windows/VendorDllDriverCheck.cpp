// SPDX-License-Identifier: MIT
// Runs under Wine: the vendor-library backend against FakeVendorLibrary.dll, and
// without any library at all. Prints "N passed, N failed".
#include "usb/VendorDllDriver.h"

#include <cstdio>
#include <cstring>

using namespace telmar::usb;

int main() {
    int passed = 0;
    int failed = 0;
    const auto check = [&](bool ok, const char* what) {
        ok ? ++passed : ++failed;
        if (!ok) {
            std::printf("FAILED: %s\n", what);
        }
    };
    {
        VendorDllDriver missing(L"no_such_vendor_library.dll");
        std::uint32_t count = 5;
        check(!missing.loaded(), "a missing library is reported as not loaded");
        check(missing.getNumDevices(count) == kLibraryMissing,
              "counting fails without the library");
        Handle handle = 0;
        check(missing.open(0, handle) == kLibraryMissing, "opening fails without the library");
    }
    check(!VendorDllDriver::libraryAvailable(L"no_such_vendor_library.dll"),
          "a missing library is found missing before any driver is made");
    check(VendorDllDriver::libraryAvailable(L"fakevendor.dll"), "the library is found");
    VendorDllDriver driver(L"fakevendor.dll");
    check(driver.loaded(), "the library loads from the program's folder");
    // Only the tests' stand-in says its box is simulated: a placeholder image must
    // never be written through a library that might drive a real box.
    check(!driver.simulatedBox(), "a library without the stand-in's export drives real boxes");
    std::uint32_t count = 0;
    check(driver.getNumDevices(count) == kSuccess && count == 2, "ordinal 1");
    char text[kDeviceStringSize] = {};
    check(driver.getDeviceString(1, text, kStringSerialNumber) == kSuccess &&
              std::strcmp(text, "2031") == 0,
          "ordinal 2, serial");
    check(driver.getDeviceString(1, text, kStringLinkName) == kSuccess &&
              std::strcmp(text, "usb:1-1") == 0,
          "ordinal 2, option 2");
    Handle handle = kNoHandle;
    check(driver.open(1, handle) == kSuccess && handle == 0x101, "ordinal 3");
    std::uint32_t readMs = 0;
    std::uint32_t writeMs = 0;
    driver.setTimeouts(4000, 0);
    check(driver.getTimeouts(readMs, writeMs) == kSuccess && readMs == 4000 && writeMs == 0,
          "ordinals 10 and 11");
    unsigned char buffer[64] = {0x10, 0x04, 0xE0, 0x00, 0x00};
    std::uint32_t n = 0;
    check(driver.write(handle, buffer, 5, n) == kSuccess && n == 5, "ordinal 7");
    check(driver.read(handle, buffer, 64, n) == kSuccess && n == 2 && buffer[0] == 0xE0,
          "ordinal 6");
    check(driver.flushBuffers(handle, 1, 1) == kSuccess, "ordinal 9");
    std::uint32_t queued = 0;
    std::uint32_t state = 0;
    check(driver.checkRxQueue(handle, queued, state) == kSuccess && queued == 7 && state == 2,
          "ordinal 12");
    check(driver.close(handle) == kSuccess, "ordinal 4");
    check(driver.close(0x102) != kSuccess, "a failing close is passed on");
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
