// SPDX-License-Identifier: MIT
#include "link/UpdaterLink.h"

#include "link/DeviceSearch.h"

#include <algorithm>

namespace telmar::link {

namespace {
constexpr std::string_view kSerialFailedText = "Error retrieving serial string!";
constexpr std::string_view kNotConnectedText = "Usb device not connected!";
constexpr std::string_view kSendFailedText = "Error Sending Code";
constexpr std::string_view kQueueFailedText = "Error Checking Queue";
constexpr std::string_view kReadFailedText = "Error Reading Data";
} // namespace

UpdaterLink::UpdaterLink(usb::Driver& driver, Clock& clock, MessageSink& messages, LineSink& lines)
    : driver_(driver), clock_(clock), messages_(messages), lines_(lines) {}

UpdaterLink::Connect UpdaterLink::connectDevice() {
    deviceHandle_ = usb::kNoHandle;
    bool open = true;
    std::uint32_t count = 0;
    if (driver_.getNumDevices(count) != usb::kSuccess) {
        open = false;
        count = 0;
    }
    std::uint32_t index = 0;
    bool found = false;
    for (; index < count; ++index) {
        char serial[usb::kDeviceStringSize] = {};
        if (driver_.getDeviceString(index, serial, usb::kStringSerialNumber) != usb::kSuccess) {
            messages_.showWarning(kSerialFailedText, kLinkCaption);
            continue;
        }
        if (serialMatches(serial, kSerial)) {
            found = true;
            break;
        }
    }
    if (!found) {
        messages_.showWarning(kNotConnectedText, kLinkCaption);
        open = false;
    }
    if (open) {
        char linkName[usb::kDeviceStringSize] = {};
        // Whatever a failed open leaves in its handle is no handle of ours to close.
        usb::Handle opened = usb::kNoHandle;
        open = driver_.getDeviceString(index, linkName, usb::kStringLinkName) == usb::kSuccess &&
               driver_.open(index, opened) == usb::kSuccess;
        if (open) {
            deviceHandle_ = opened;
            open = driver_.flushBuffers(deviceHandle_, 1, 1) == usb::kSuccess;
        }
    }
    if (!open) {
        closeDeviceHandle(driver_, messages_, deviceHandle_);
        return found ? Connect::NotOpened : Connect::NotFound;
    }
    return Connect::Opened;
}

bool UpdaterLink::exchange(std::span<const std::uint8_t> request, std::span<std::uint8_t> reply) {
    if (deviceHandle_ == usb::kNoHandle) {
        return false;
    }
    std::uint32_t written = 0;
    if (driver_.write(deviceHandle_, request.data(), static_cast<std::uint32_t>(request.size()),
                      written) != usb::kSuccess) {
        messages_.showWarning(kSendFailedText, kLinkCaption);
        return false;
    }
    const std::uint32_t start = clock_.tickMs();
    bool queueFailed = false;
    std::uint32_t queued = 0;
    while (queued < 1) {
        if (elapsedMs(start, clock_.tickMs()) >= kReplyWaitMs) {
            break;
        }
        std::uint32_t queueStatus = 0;
        if (driver_.checkRxQueue(deviceHandle_, queued, queueStatus) != usb::kSuccess) {
            messages_.showWarning(kQueueFailedText, kLinkCaption);
            queueFailed = true;
            queued = 0;
        }
    }
    if (queueFailed || queued < 1) {
        return false;
    }
    // Bytes a short reply does not deliver read as 0, never as a stale earlier reply
    // that could pass the caller's check.
    std::fill(reply.begin(), reply.end(), std::uint8_t{0});
    const auto wanted = static_cast<std::uint32_t>(reply.size());
    std::uint32_t bytesRead = 0;
    if (driver_.read(deviceHandle_, reply.data(), wanted, bytesRead) != usb::kSuccess) {
        messages_.showWarning(kReadFailedText, kLinkCaption);
        return false;
    }
    if (bytesRead != wanted) {
        lines_.drawStatusLine(kShortReplyLine, kShortReplyY);
    }
    return true;
}

void UpdaterLink::closeDevice() {
    closeDeviceHandle(driver_, messages_, deviceHandle_);
}

} // namespace telmar::link
