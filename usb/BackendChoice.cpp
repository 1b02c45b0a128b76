// SPDX-License-Identifier: MIT
#include "usb/BackendChoice.h"

#include <ostream>
#include <string_view>

namespace telmar::usb {

Backend chooseBackend(const char* value, std::ostream& err) {
    if (value == nullptr) {
        return Backend::Usb;
    }
    const std::string_view name(value);
    if (name.empty() || name == "usb") {
        return Backend::Usb;
    }
    if (name == "sim") {
        return Backend::Sim;
    }
    err << kBackendVariable << ": unknown backend \"" << name
        << "\" (expected usb or sim); using usb" << std::endl;
    return Backend::Usb;
}

} // namespace telmar::usb
