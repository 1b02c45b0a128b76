// SPDX-License-Identifier: MIT
#pragma once

#include "usb/Driver.h"

#include <memory>

namespace telmar::usb {

// The driver seam over the vendor's Windows library, loaded when the driver is
// made and called by ordinal. Without the library every call fails with
// kLibraryMissing, so counting the devices fails.
class VendorDllDriver final : public Driver {
  public:
    static constexpr const wchar_t* kLibraryName = L"SiUSBXp.dll";

    explicit VendorDllDriver(const wchar_t* libraryName = kLibraryName);
    ~VendorDllDriver() override;

    VendorDllDriver(const VendorDllDriver&) = delete;
    VendorDllDriver& operator=(const VendorDllDriver&) = delete;

    bool loaded() const;
    // Whether the library can be loaded at all, from where the driver would load it.
    static bool libraryAvailable(const wchar_t* libraryName = kLibraryName);

    // The stand-in library the tests use says so through an export of its own, one
    // the vendor's library does not have.
    static constexpr const char* kSimulatedBoxExport = "TelmarStandinSimulatedBox";
    bool simulatedBox() const override;
    // Without the library: which file is missing and where it belongs.
    std::string reachProblem() const override;

    TELMAR_USB_DRIVER_CALLS;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace telmar::usb
