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

namespace {
// For the debug log: one line per device string the search reads.
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
} // namespace

std::optional<std::uint32_t> findSerial(usb::Driver& driver, std::string_view wanted,
                                        const std::function<void()>& unreadable) {
    std::uint32_t count = 0;
    if (const usb::Status status = driver.getNumDevices(count); status != usb::kSuccess) {
        TELMAR_LOG(base::LogArea::Link,
                   "device search: counting failed, " + failureText(driver, status));
        return std::nullopt;
    }
    TELMAR_LOG(base::LogArea::Link, "device search: " + std::to_string(count) + " devices");
    for (std::uint32_t index = 0; index < count; ++index) {
        char serial[usb::kDeviceStringSize] = {};
        const usb::Status status = driver.getDeviceString(index, serial, usb::kStringSerialNumber);
        logDeviceString(driver, index, status, serial, wanted);
        if (status != usb::kSuccess) {
            if (unreadable) {
                unreadable();
            }
        } else if (serialMatches(serial, wanted)) {
            return index;
        }
    }
    TELMAR_LOG(base::LogArea::Link,
               "device search: no device has serial \"" + std::string(wanted) + "\"");
    return std::nullopt;
}

const char* waitForReply(usb::Driver& driver, Clock& clock, usb::Handle handle, std::uint32_t start,
                         std::uint32_t timeoutMs, MessageSink& messages,
                         std::string_view failedText, const std::atomic<bool>* stop) {
    bool queueFailed = false;
    std::uint32_t queued = 0;
    while (queued < 1 && elapsedMs(start, clock.tickMs()) < timeoutMs &&
           (stop == nullptr || !*stop)) {
        std::uint32_t queueStatus = 0;
        if (driver.checkRxQueue(handle, queued, queueStatus) != usb::kSuccess) {
            messages.showWarning(failedText, kLinkCaption);
            queueFailed = true;
            queued = 0;
        }
    }
    return queueFailed ? "receive-queue check failed" : queued < 1 ? "no reply in time" : nullptr;
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
