// SPDX-License-Identifier: MIT
#include "link/DeviceSearch.h"

#include <cstring>

namespace telmar::link {

bool serialMatches(const char (&buffer)[usb::kDeviceStringSize], std::string_view wanted) {
    const std::string_view found(buffer, strnlen(buffer, usb::kDeviceStringSize));
    return found == wanted;
}

void closeDeviceHandle(usb::Driver& driver, MessageSink& messages, usb::Handle& handle) {
    if (handle != usb::kNoHandle && driver.close(handle) != usb::kSuccess) {
        messages.showWarning(kCloseFailedText, kLinkCaption);
    }
    handle = usb::kNoHandle;
}

} // namespace telmar::link
