// SPDX-License-Identifier: MIT
#include "link/PanelLink.h"

#include "base/Log.h"
#include "link/DeviceSearch.h"

#include <algorithm>
#include <cstring>

namespace telmar::link {

namespace {
constexpr std::string_view kConnectText = "Connect USB cable to TELMAR";
constexpr std::string_view kOpenFailedText = "Usb device open error!";
constexpr std::string_view kQueueFailedText = "Error Checking RX Queue";

// One driver call under the given time-outs; those in force are put back afterwards.
template <typename Call>
bool underTimeouts(usb::Driver& driver, std::uint32_t readMs, std::uint32_t writeMs, Call call) {
    std::uint32_t keptRead = 0;
    std::uint32_t keptWrite = 0;
    driver.getTimeouts(keptRead, keptWrite);
    driver.setTimeouts(readMs, writeMs);
    const usb::Status status = call();
    driver.setTimeouts(keptRead, keptWrite);
    return status == usb::kSuccess;
}
} // namespace

PanelLink::PanelLink(usb::Driver& driver, Clock& clock, MessageSink& messages)
    : driver_(driver), clock_(clock), messages_(messages) {}

bool PanelLink::findDevice(std::string_view wanted, std::uint32_t& indexOut) {
    deviceHandle_ = usb::kNoHandle;
    const std::optional<std::uint32_t> index = findSerial(driver_, wanted);
    if (!index) {
        messages_.showWarning(kConnectText, kLinkCaption);
    }
    indexOut = index.value_or(indexOut);
    return index.has_value();
}

bool PanelLink::findAndOpenQuietly(std::string_view wanted, std::uint32_t& indexOut) {
    deviceHandle_ = usb::kNoHandle;
    const std::optional<std::uint32_t> index = findSerial(driver_, wanted);
    indexOut = index.value_or(indexOut);
    if (!index || driver_.open(*index, deviceHandle_) != usb::kSuccess) {
        deviceHandle_ = usb::kNoHandle;
        return false;
    }
    return true;
}

bool PanelLink::deviceAttached(std::string_view wanted) {
    return findSerial(driver_, wanted).has_value();
}

void PanelLink::releaseLostDevice() {
    if (deviceHandle_ != usb::kNoHandle) {
        driver_.close(deviceHandle_);
        deviceHandle_ = usb::kNoHandle;
    }
}

bool PanelLink::openDevice(std::uint32_t index) {
    const usb::Status status = driver_.open(index, deviceHandle_);
    TELMAR_LOG(base::LogArea::Link,
               "open index " + std::to_string(index) + ": " + failureText(driver_, status));
    if (status != usb::kSuccess) {
        messages_.showWarning(kOpenFailedText, kLinkCaption);
        deviceHandle_ = usb::kNoHandle;
        return false;
    }
    return true;
}

void PanelLink::closeDevice() {
    closeDeviceHandle(driver_, messages_, deviceHandle_);
}

bool PanelLink::exchange(std::span<const std::uint8_t> request, Reply& reply,
                         std::uint32_t minReplyLength) {
    const std::uint32_t start = clock_.tickMs();
    linkBusy_ = true;
    bool ok = false;
    std::uint32_t received = 0;
    const char* failure = deviceHandle_ == usb::kNoHandle ? "no device open" : "abandoned";
    if (deviceHandle_ != usb::kNoHandle && !abandoned_) {
        driver_.flushBuffers(deviceHandle_, 1, 1);
        std::uint32_t written = 0;
        failure = "write failed";
        if (underTimeouts(driver_, 0, kTimeoutMs, [&] {
                return driver_.write(deviceHandle_, request.data(),
                                     static_cast<std::uint32_t>(request.size()), written);
            })) {
            failure = waitForReply(driver_, clock_, deviceHandle_, start, kTimeoutMs, messages_,
                                   kQueueFailedText, &abandoned_);
            if (failure == nullptr) {
                std::uint32_t bytesRead = 0;
                ok = underTimeouts(driver_, kTimeoutMs, 0, [&] {
                    return driver_.read(deviceHandle_, linkBuffer_.data(), kReplySize, bytesRead);
                });
                failure = "read failed";
                // A driver that claims more than it was asked for must not overrun the reply.
                bytesRead = std::min(bytesRead, kReplySize);
                std::memcpy(reply.data(), linkBuffer_.data(), bytesRead);
                received = bytesRead;
                if (ok && bytesRead < minReplyLength) {
                    ok = false;
                    failure = "reply too short";
                }
            }
        }
    }
    if (ok) {
        ++succeeded_;
    }
    linkBusy_ = false;
    if (base::logEnabled(base::LogArea::Link)) {
        base::logWrite(base::LogArea::Link,
                       "exchange " + base::hexBytes(request) + ": " + (ok ? "ok" : failure) +
                           ", reply " + base::hexBytes({reply.data(), received}) + " (" +
                           std::to_string(received) + " of at least " +
                           std::to_string(minReplyLength) + " bytes) in " +
                           std::to_string(elapsedMs(start, clock_.tickMs())) + " ms");
    }
    return ok;
}

} // namespace telmar::link
