// SPDX-License-Identifier: MIT
#include "link/UpdaterLink.h"

#include "base/Log.h"
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
    bool flushFailed = false;
    const std::optional<std::uint32_t> index = findSerial(
        driver_, kBoxSerial, [this] { messages_.showWarning(kSerialFailedText, kLinkCaption); });
    if (!index) {
        messages_.showWarning(kNotConnectedText, kLinkCaption);
    }
    char linkName[usb::kDeviceStringSize] = {};
    // Whatever a failed open leaves in its handle is no handle of ours to close.
    usb::Handle opened = usb::kNoHandle;
    bool open = index &&
                driver_.getDeviceString(*index, linkName, usb::kStringLinkName) == usb::kSuccess &&
                driver_.open(*index, opened) == usb::kSuccess;
    if (open) {
        deviceHandle_ = opened;
        open = driver_.flushBuffers(deviceHandle_, 1, 1) == usb::kSuccess;
        flushFailed = !open;
    }
    if (!open) {
        TELMAR_LOG(base::LogArea::Link,
                   index ? "connect: link name, open or flush failed (" + driver_.lastError() + ")"
                         : std::string("connect: no box"));
        closeDeviceHandle(driver_, messages_, deviceHandle_);
        return !index ? Connect::NotFound : flushFailed ? Connect::NotPrepared : Connect::NotOpened;
    }
    TELMAR_LOG(base::LogArea::Link, "connect: the box at index " + std::to_string(*index));
    return Connect::Opened;
}

bool UpdaterLink::exchange(std::span<const std::uint8_t> request, std::span<std::uint8_t> reply) {
    const std::uint32_t start = clock_.tickMs();
    std::uint32_t received = 0;
    const char* failure = "";
    const bool ok = exchangeSteps(request, reply, received, failure);
    if (base::logEnabled(base::LogArea::Link)) {
        base::logWrite(
            base::LogArea::Link,
            "exchange " + base::hexBytes(request) + ": " + (ok ? "ok" : failure) + ", reply " +
                base::hexBytes(reply.first(std::min<std::size_t>(received, reply.size()))) + " (" +
                std::to_string(received) + " of " + std::to_string(reply.size()) + " bytes) in " +
                std::to_string(elapsedMs(start, clock_.tickMs())) + " ms");
    }
    return ok;
}

bool UpdaterLink::exchangeSteps(std::span<const std::uint8_t> request,
                                std::span<std::uint8_t> reply, std::uint32_t& received,
                                const char*& failure) {
    if (deviceHandle_ == usb::kNoHandle) {
        failure = "no device open";
        return false;
    }
    std::uint32_t written = 0;
    if (driver_.write(deviceHandle_, request.data(), static_cast<std::uint32_t>(request.size()),
                      written) != usb::kSuccess) {
        failure = "write failed";
        messages_.showWarning(kSendFailedText, kLinkCaption);
        return false;
    }
    failure = waitForReply(driver_, clock_, deviceHandle_, clock_.tickMs(), kReplyWaitMs, messages_,
                           kQueueFailedText);
    if (failure != nullptr) {
        return false;
    }
    // Bytes a short reply does not deliver read as 0, never as a stale earlier reply
    // that could pass the caller's check.
    std::fill(reply.begin(), reply.end(), std::uint8_t{0});
    const auto wanted = static_cast<std::uint32_t>(reply.size());
    std::uint32_t bytesRead = 0;
    if (driver_.read(deviceHandle_, reply.data(), wanted, bytesRead) != usb::kSuccess) {
        failure = "read failed";
        messages_.showWarning(kReadFailedText, kLinkCaption);
        return false;
    }
    received = bytesRead;
    if (bytesRead != wanted) {
        lines_.drawStatusLine(kShortReplyLine, kShortReplyY);
    }
    return true;
}

void UpdaterLink::closeDevice() {
    closeDeviceHandle(driver_, messages_, deviceHandle_);
}

} // namespace telmar::link
