// SPDX-License-Identifier: MIT
#include "link/PanelLink.h"

#include "link/DeviceSearch.h"

#include <algorithm>
#include <cstring>

namespace telmar::link {

namespace {
constexpr std::string_view kConnectText = "Connect USB cable to TELMAR";
constexpr std::string_view kOpenFailedText = "Usb device open error!";
constexpr std::string_view kQueueFailedText = "Error Checking RX Queue";
} // namespace

PanelLink::PanelLink(usb::Driver& driver, Clock& clock, MessageSink& messages)
    : driver_(driver), clock_(clock), messages_(messages) {}

bool PanelLink::search(std::string_view wanted, std::uint32_t& indexOut) {
    std::uint32_t count = 0;
    if (driver_.getNumDevices(count) != usb::kSuccess) {
        return false;
    }
    for (std::uint32_t index = 0; index < count; ++index) {
        char serial[usb::kDeviceStringSize] = {};
        if (driver_.getDeviceString(index, serial, usb::kStringSerialNumber) != usb::kSuccess) {
            continue;
        }
        if (serialMatches(serial, wanted)) {
            indexOut = index;
            return true;
        }
    }
    return false;
}

bool PanelLink::findDevice(std::string wanted, std::uint32_t& indexOut) {
    deviceHandle_ = usb::kNoHandle;
    if (!search(wanted, indexOut)) {
        messages_.showWarning(kConnectText, kLinkCaption);
        return false;
    }
    return true;
}

bool PanelLink::findAndOpenQuietly(std::string_view wanted, std::uint32_t& indexOut) {
    deviceHandle_ = usb::kNoHandle;
    if (!search(wanted, indexOut)) {
        return false;
    }
    if (driver_.open(indexOut, deviceHandle_) != usb::kSuccess) {
        deviceHandle_ = usb::kNoHandle;
        return false;
    }
    return true;
}

bool PanelLink::deviceAttached(std::string_view wanted) {
    std::uint32_t index = 0;
    return search(wanted, index);
}

void PanelLink::releaseLostDevice() {
    if (deviceHandle_ != usb::kNoHandle) {
        driver_.close(deviceHandle_);
        deviceHandle_ = usb::kNoHandle;
    }
}

bool PanelLink::openDevice(std::uint32_t index) {
    if (driver_.open(index, deviceHandle_) != usb::kSuccess) {
        messages_.showWarning(kOpenFailedText, kLinkCaption);
        deviceHandle_ = usb::kNoHandle;
        return false;
    }
    return true;
}

void PanelLink::closeDevice() {
    closeDeviceHandle(driver_, messages_, deviceHandle_);
}

bool PanelLink::readTimed(void* buffer, std::uint32_t count, std::uint32_t& bytesReadOut,
                          std::uint32_t timeoutMs) {
    std::uint32_t keptRead = 0;
    std::uint32_t keptWrite = 0;
    driver_.getTimeouts(keptRead, keptWrite);
    driver_.setTimeouts(timeoutMs, 0);
    const usb::Status status = driver_.read(deviceHandle_, buffer, count, bytesReadOut);
    driver_.setTimeouts(keptRead, keptWrite);
    return status == usb::kSuccess;
}

bool PanelLink::writeTimed(const void* buffer, std::uint32_t count, std::uint32_t& bytesWrittenOut,
                           std::uint32_t timeoutMs) {
    std::uint32_t keptRead = 0;
    std::uint32_t keptWrite = 0;
    driver_.getTimeouts(keptRead, keptWrite);
    driver_.setTimeouts(0, timeoutMs);
    const usb::Status status = driver_.write(deviceHandle_, buffer, count, bytesWrittenOut);
    driver_.setTimeouts(keptRead, keptWrite);
    return status == usb::kSuccess;
}

bool PanelLink::exchange(Reply& reply, const std::uint8_t* request, std::uint32_t minReplyLength,
                         std::uint32_t requestLength) {
    const std::uint32_t start = clock_.tickMs();
    linkBusy_ = true;
    bool ok = false;
    if (deviceHandle_ != usb::kNoHandle && !abandoned_) {
        driver_.flushBuffers(deviceHandle_, 1, 1);
        std::uint32_t written = 0;
        if (writeTimed(request, requestLength, written, kTimeoutMs)) {
            bool queueFailed = false;
            std::uint32_t queued = 0;
            while (queued < 1) {
                if (elapsedMs(start, clock_.tickMs()) >= kTimeoutMs || abandoned_) {
                    break;
                }
                std::uint32_t queueStatus = 0;
                if (driver_.checkRxQueue(deviceHandle_, queued, queueStatus) != usb::kSuccess) {
                    messages_.showWarning(kQueueFailedText, kLinkCaption);
                    queueFailed = true;
                    queued = 0;
                }
            }
            if (!queueFailed && queued >= 1) {
                std::uint32_t bytesRead = 0;
                ok = readTimed(linkBuffer_.data(), kReplySize, bytesRead, kTimeoutMs);
                // A driver that claims more than it was asked for must not overrun the reply.
                bytesRead = std::min(bytesRead, kReplySize);
                std::memcpy(reply.data(), linkBuffer_.data(), bytesRead);
                if (bytesRead < minReplyLength) {
                    ok = false;
                }
            }
        }
    }
    if (ok) {
        ++succeeded_;
    }
    linkBusy_ = false;
    return ok;
}

} // namespace telmar::link
