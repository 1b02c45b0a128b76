// SPDX-License-Identifier: MIT
#include "link/DeviceSearch.h"

#include "base/Log.h"

#include <cstring>

namespace telmar::link {

bool serialMatches(const char (&buffer)[usb::kDeviceStringSize], std::string_view wanted) {
    const std::string_view found(buffer, strnlen(buffer, usb::kDeviceStringSize));
    return found == wanted;
}

std::string failureText(const usb::Driver& driver, usb::Status status) {
    std::string text = "status " + std::to_string(status);
    if (const std::string why = driver.lastError(); !why.empty()) {
        text += " (" + why + ")";
    }
    return text;
}

void logDeviceString(const usb::Driver& driver, std::uint32_t index, usb::Status status,
                     const char (&buffer)[usb::kDeviceStringSize], std::string_view wanted) {
    if (!base::logEnabled(base::LogArea::Link)) {
        return;
    }
    std::string line = "device search: index " + std::to_string(index) + ": ";
    if (status != usb::kSuccess) {
        line += "serial string unreadable, " + failureText(driver, status);
    } else {
        line += "serial \"" + std::string(buffer, strnlen(buffer, usb::kDeviceStringSize)) + "\"" +
                (serialMatches(buffer, wanted) ? ", the box" : "");
    }
    base::logWrite(base::LogArea::Link, line);
}

void closeDeviceHandle(usb::Driver& driver, MessageSink& messages, usb::Handle& handle) {
    if (handle != usb::kNoHandle) {
        const usb::Status status = driver.close(handle);
        TELMAR_LOG(base::LogArea::Link, "close: " + failureText(driver, status));
        if (status != usb::kSuccess) {
            messages.showWarning(kCloseFailedText, kLinkCaption);
        }
    }
    handle = usb::kNoHandle;
}

} // namespace telmar::link
