// SPDX-License-Identifier: MIT
#include "tests/windows/standin/StandinDriver.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>
#include <vector>

namespace telmar::sim::standin {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// -1 for text that is not a whole non-negative number, so a mistyped control shows
// in the state instead of quietly meaning "none".
std::int64_t parseCount(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        return -1;
    }
    return value;
}

void writeFile(const std::string& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace

Controls Controls::fromEnvironment() {
    Controls controls;
    controls.dumpDir = environment(kDumpDirVariable);
    controls.refusePacket = parseCount(environment(kRefusePacketVariable));
    controls.holdFile = environment(kHoldFileVariable);
    controls.commandFile = environment(kCommandFileVariable);
    return controls;
}

StandinDriver::StandinDriver(Controls controls)
    : controls_(std::move(controls)), holdPending_(!controls_.holdFile.empty()) {
    if (controls_.refusePacket > 0) {
        box_.faults().rejectPacketIn = controls_.refusePacket;
    }
}

usb::Status StandinDriver::getNumDevices(std::uint32_t& count) {
    std::lock_guard lock(mutex_);
    takeCommandsLocked();
    count = unplugged_ ? 0 : 1;
    return usb::kSuccess;
}

usb::Status StandinDriver::getDeviceString(std::uint32_t index, char* buffer,
                                           std::uint32_t option) {
    std::lock_guard lock(mutex_);
    if (buffer == nullptr) {
        return usb::kInvalidParameter;
    }
    if (index != 0 || unplugged_) {
        return usb::kDeviceNotFound;
    }
    std::string_view text;
    switch (option) {
    case usb::kStringSerialNumber:
        text = box_.serial();
        break;
    case usb::kStringDescription:
    case usb::kStringLinkName:
        text = "TELMAR simulated box";
        break;
    default:
        return usb::kInvalidParameter;
    }
    const std::size_t length = std::min(text.size(), usb::kDeviceStringSize - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return usb::kSuccess;
}

usb::Status StandinDriver::open(std::uint32_t index, usb::Handle& handle) {
    std::lock_guard lock(mutex_);
    ++openAttempts_;
    handle = usb::kNoHandle;
    if (index != 0 || unplugged_) {
        return usb::kDeviceNotFound;
    }
    // Like the real library: one open handle per device.
    if (open_) {
        return usb::kAccessDenied;
    }
    open_ = true;
    ++opens_;
    received_.clear();
    handle = kHandle;
    dumpLocked();
    return usb::kSuccess;
}

usb::Status StandinDriver::close(usb::Handle handle) {
    std::lock_guard lock(mutex_);
    if (deadHandle_ && handle == kHandle) {
        // The handle goes, but the box that was behind it cannot say so.
        deadHandle_ = false;
        ++closes_;
        dumpLocked();
        return usb::kDeviceIoFailed;
    }
    if (!isOpen(handle)) {
        return usb::kInvalidHandle;
    }
    open_ = false;
    ++closes_;
    received_.clear();
    dumpLocked();
    return usb::kSuccess;
}

usb::Status StandinDriver::read(usb::Handle handle, void* buffer, std::uint32_t count,
                                std::uint32_t& bytesRead) {
    std::lock_guard lock(mutex_);
    bytesRead = 0;
    if (!isOpen(handle)) {
        return usb::kInvalidHandle;
    }
    if (buffer == nullptr && count != 0) {
        return usb::kInvalidParameter;
    }
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, received_.size()));
    std::copy_n(received_.begin(), n, static_cast<std::uint8_t*>(buffer));
    received_.erase(received_.begin(), received_.begin() + n);
    bytesRead = n;
    return usb::kSuccess;
}

usb::Status StandinDriver::write(usb::Handle handle, const void* buffer, std::uint32_t count,
                                 std::uint32_t& bytesWritten) {
    bytesWritten = 0;
    if (buffer == nullptr && count != 0) {
        return usb::kInvalidParameter;
    }
    const std::span<const std::uint8_t> frame(static_cast<const std::uint8_t*>(buffer), count);

    bool hold = false;
    {
        std::lock_guard lock(mutex_);
        hold =
            holdPending_ && isOpen(handle) && classifyFrame(frame) == FrameKind::WriteFlashPacket;
        if (hold) {
            holdPending_ = false;
            held_ = true;
            dumpLocked();
        }
    }
    if (hold) {
        waitForHoldFile();
    }

    std::lock_guard lock(mutex_);
    held_ = false;
    takeCommandsLocked();
    if (!isOpen(handle)) {
        return usb::kInvalidHandle;
    }
    if (unplugged_) {
        return usb::kDeviceIoFailed;
    }
    const auto now = static_cast<BoxTimeMs>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - start_)
                                                .count());
    FrameOutcome outcome = box_.handleFrame(frame, now);
    if (outcome.reply) {
        received_.insert(received_.end(), outcome.reply->begin(), outcome.reply->end());
    }
    unplugged_ = unplugged_ || outcome.unplug;
    bytesWritten = count;
    if (outcome.kind == FrameKind::WriteRegister) {
        dumpLocked(); // so a test sees each setting as it lands
    }
    return usb::kSuccess;
}

usb::Status StandinDriver::flushBuffers(usb::Handle handle, std::uint8_t,
                                        std::uint8_t flushReceive) {
    std::lock_guard lock(mutex_);
    if (!isOpen(handle)) {
        return usb::kInvalidHandle;
    }
    if (flushReceive != 0) {
        received_.clear();
    }
    return usb::kSuccess;
}

usb::Status StandinDriver::setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    std::lock_guard lock(mutex_);
    readTimeoutMs_ = readMs;
    writeTimeoutMs_ = writeMs;
    return usb::kSuccess;
}

usb::Status StandinDriver::getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) {
    std::lock_guard lock(mutex_);
    readMs = readTimeoutMs_;
    writeMs = writeTimeoutMs_;
    return usb::kSuccess;
}

usb::Status StandinDriver::checkRxQueue(usb::Handle handle, std::uint32_t& bytesQueued,
                                        std::uint32_t& queueStatus) {
    std::lock_guard lock(mutex_);
    if (!isOpen(handle)) {
        return usb::kInvalidHandle;
    }
    bytesQueued = static_cast<std::uint32_t>(received_.size());
    queueStatus = received_.empty() ? usb::kRxQueueEmpty : usb::kRxQueueReady;
    return usb::kSuccess;
}

std::string StandinDriver::stateText() {
    std::lock_guard lock(mutex_);
    return stateTextLocked();
}

std::string StandinDriver::stateTextLocked() const {
    const auto selected = box_.selectedFlash();
    std::ostringstream text;
    text << "open=" << (open_ ? 1 : 0) << '\n'
         << "opens=" << opens_ << '\n'
         << "open-attempts=" << openAttempts_ << '\n'
         << "closes=" << closes_ << '\n'
         << "held=" << (held_ ? 1 : 0) << '\n'
         << "refuse-packet=" << controls_.refusePacket << '\n'
         << "isp=" << (box_.inIsp() ? 1 : 0) << '\n'
         << "flash=" << (selected ? flashName(*selected) : std::string_view("none")) << '\n'
         << "resets=" << box_.resets() << '\n'
         << "frames=" << box_.frames() << '\n'
         << "writes=" << box_.writeLog().size() << '\n'
         << "misuse=" << (box_.misuse().any() ? 1 : 0) << '\n'
         << "plugged=" << (unplugged_ ? 0 : 1) << '\n'
         << "hpd=" << box_.hpdPulses() << '\n'
         << "scenario=" << box_.scenarioSetting() << '\n'
         << "settings=";
    for (std::uint8_t byte : box_.settingsBlock()) {
        text << ' ' << static_cast<unsigned>(byte);
    }
    text << '\n';
    return text.str();
}

void StandinDriver::dump() {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock.owns_lock()) {
        dumpLocked();
    }
}

void StandinDriver::dumpLocked() const {
    if (controls_.dumpDir.empty()) {
        return;
    }
    const std::string dir = controls_.dumpDir + "/";
    for (FlashChip chip : {FlashChip::Fpga1, FlashChip::Fpga2}) {
        const Bytes& flash = box_.flash(chip);
        writeFile(dir + std::string(flashName(chip)) + ".bin", flash.data(), flash.size());
    }
    // Flash first, state last: a reader that sees a state finds the flash to match it.
    const std::string state = stateTextLocked();
    writeFile(dir + "state.txt.tmp", state.data(), state.size());
    std::remove((dir + "state.txt").c_str());
    std::rename((dir + "state.txt.tmp").c_str(), (dir + "state.txt").c_str());
}

void StandinDriver::takeCommandsLocked() {
    std::error_code error;
    if (controls_.commandFile.empty() || !std::filesystem::exists(controls_.commandFile, error)) {
        return;
    }
    std::ifstream in(controls_.commandFile);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    in.close();
    std::filesystem::remove(controls_.commandFile, error);
    const auto now = static_cast<BoxTimeMs>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - start_)
                                                .count());
    for (const std::string& command : lines) {
        if (command.rfind("scenario ", 0) == 0) {
            box_.setScenario(std::string_view(command).substr(9), now);
        } else if (command == "unplug") {
            unplugged_ = true;
            deadHandle_ = open_;
            open_ = false;
            received_.clear();
        } else if (command == "plug") {
            unplugged_ = false;
        }
    }
    dumpLocked();
}

void StandinDriver::waitForHoldFile() {
    const auto deadline = std::chrono::steady_clock::now() + kHoldLimit;
    std::error_code error;
    while (!std::filesystem::exists(controls_.holdFile, error) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace telmar::sim::standin
