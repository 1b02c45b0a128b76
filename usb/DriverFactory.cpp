// SPDX-License-Identifier: MIT
#include "usb/DriverFactory.h"

#include "usb/BackendChoice.h"

#include <cstdlib>
#include <iostream>

#ifdef _WIN32
#include "usb/VendorDllDriver.h"
#else
#include "usb/LibusbDriver.h"
#include "usb/UsbIdList.h"
#endif

#if TELMAR_HAVE_SIM_DRIVER
#include "sim/SimDriver.h"
#endif

namespace telmar::usb {

std::unique_ptr<Driver> createDriver() {
    if (chooseBackend(std::getenv(kBackendVariable), std::cerr) == Backend::Sim) {
#if TELMAR_HAVE_SIM_DRIVER
        return sim::createSimDriver();
#else
        std::cerr << kBackendVariable << ": the simulated box is not part of this build; using usb"
                  << std::endl;
#endif
    }
#ifdef _WIN32
    return std::make_unique<VendorDllDriver>();
#else
    return std::make_unique<LibusbDriver>(
        usbIdsFromEnvironment(std::getenv(kUsbIdsVariable), std::cerr), std::cerr);
#endif
}

} // namespace telmar::usb
