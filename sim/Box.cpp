// SPDX-License-Identifier: MIT
#include "sim/Box.h"

#include "base/Hex.h"

#include <algorithm>
#include <sstream>

namespace telmar::sim {

namespace {

constexpr std::uint8_t kAccept = 0x01;
constexpr std::uint8_t kRefuse = 0x00;
constexpr std::uint8_t kIspEcho = 0x50;

// Settings bytes of registers 0 to 6; registers 17 and 18 report in bytes 10 and 11.
constexpr std::size_t kGuiEnableByte = 4;
constexpr std::size_t kEdidByte = 5;
constexpr std::size_t kAudioByte = 6;
constexpr std::uint8_t kHpdRegister = 10;

std::optional<std::size_t> settingsByteOf(std::uint8_t reg) {
    if (reg <= 6 && reg != 3) {
        return reg;
    }
    return reg == 17 || reg == 18 ? std::optional(static_cast<std::size_t>(reg - 7)) : std::nullopt;
}

// What the flash held before anybody programmed it, so that a missed packet shows.
Bytes oldFirmware(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + seed + (i >> 9)) & 0xFF);
    }
    return bytes;
}

} // namespace

std::size_t flashBlocks(FlashChip chip) {
    return chip == FlashChip::Fpga1 ? kFpga1Blocks : kFpga2Blocks;
}

std::string_view flashName(FlashChip chip) {
    return chip == FlashChip::Fpga1 ? "fpga1" : "fpga2";
}

std::optional<FlashChip> flashChipNamed(std::string_view name) {
    for (FlashChip chip : {FlashChip::Fpga1, FlashChip::Fpga2}) {
        if (name == flashName(chip)) {
            return chip;
        }
    }
    return std::nullopt;
}

bool Misuse::any() const {
    return packetOutsideIsp + packetBeforeBlockIndex + packetPastBlockEnd + blockIndexOutsideIsp +
               blockIndexOutOfRange !=
           0;
}

std::optional<std::uint8_t> parseSwitchPosition(std::string_view text) {
    if (text == "up" || text == "UP" || text == "3") {
        return 3;
    }
    if (text == "mid" || text == "MID" || text == "1") {
        return 1;
    }
    if (text == "dn" || text == "DN" || text == "down" || text == "2") {
        return 2;
    }
    return std::nullopt;
}

Box::Box(std::string serial) : serial_(std::move(serial)) {
    registers_[0] = 1; // logo LED on
    registers_[1] = 1; // audio frame 1080p60
    registers_[kEdidByte] = 3;
    registers_[kAudioByte] = 1;
    flash_[0] = oldFirmware(kFpga1Blocks * kFlashBlockSize, 0x11);
    flash_[1] = oldFirmware(kFpga2Blocks * kFlashBlockSize, 0x77);
    fixed_ = findScenario("1080p60");
}

bool Box::setScenario(std::string_view name, BoxTimeMs now) {
    const Scenario* s = findScenario(name);
    if (name != kDemoScenario && s == nullptr) {
        return false;
    }
    setBlocks_ = {};
    demo_ = s == nullptr;
    demoStart_ = demo_ ? now : demoStart_;
    fixed_ = demo_ ? fixed_ : s;
    return true;
}

std::string_view Box::scenarioSetting() const {
    return demo_ ? kDemoScenario : fixed_->name;
}

const Scenario& Box::scenarioAt(BoxTimeMs now) const {
    const auto all = scenarios();
    if (inputBackAt_ && now < *inputBackAt_) {
        return noInput();
    }
    if (demo_) {
        const auto elapsed = now >= demoStart_ ? now - demoStart_ : 0;
        return all[(elapsed / kDemoPeriodMs) % all.size()];
    }
    return *fixed_;
}

std::array<std::uint8_t, kSettingsCount> Box::settingsBlock() const {
    auto bytes = registers_;
    // With GUI control off the slide switches decide, and the box says so.
    if (bytes[kGuiEnableByte] == 0) {
        bytes[kEdidByte] = switches_.edid;
        bytes[kAudioByte] = switches_.audio;
    }
    return bytes;
}

FrameOutcome Box::handleFrame(std::span<const std::uint8_t> frame, BoxTimeMs now) {
    FrameOutcome out;
    out.kind = classifyFrame(frame);
    ++frames_;
    if (out.kind == FrameKind::Unknown) {
        ++unknownFrames_;
    }
    if (faults_.unplugAfter) {
        // Leaving with the next frame, not with the last reply, lets that reply be read.
        if (*faults_.unplugAfter == 0) {
            faults_.unplugAfter.reset();
            out.unplug = true;
            return out;
        }
        --*faults_.unplugAfter;
    }
    if (faults_.silenceAfter) {
        if (*faults_.silenceAfter == 0) {
            return out; // hung: the frame is not even looked at
        }
        --*faults_.silenceAfter;
    }

    out.reply = answer(out.kind, frame, now);
    if (!out.reply) {
        return out;
    }
    if (fire(faults_.drop)) {
        out.reply.reset();
        return out;
    }
    if (fire(faults_.wrongByte0) && !out.reply->empty()) {
        (*out.reply)[0] = faults_.byte0Value;
    }
    if (fire(faults_.truncate) && out.reply->size() > faults_.truncateTo) {
        out.reply->resize(faults_.truncateTo);
    }
    if (out.reply->empty()) {
        out.reply.reset();
    }
    return out;
}

std::optional<Bytes> Box::answer(FrameKind kind, std::span<const std::uint8_t> f, BoxTimeMs now) {
    switch (kind) {
    case FrameKind::WriteRegister:
        return writeRegister(f[3], f[4], now);
    case FrameKind::ReadBlock:
        return readBlock(f[1], f[3], now);
    case FrameKind::ReadSettings:
        if (f[1] == 0) {
            return std::nullopt;
        }
        return readSettings(f[1]);
    case FrameKind::EnterIsp:
        return enterIsp(f);
    case FrameKind::SetBlockIndex:
        return setBlockIndex(f[4]);
    case FrameKind::WriteFlashPacket:
        return writeFlashPacket(f);
    case FrameKind::ExitIsp:
        return exitIsp();
    case FrameKind::ResetBox:
        return resetBox(now);
    case FrameKind::Unknown:
        break;
    }
    return std::nullopt;
}

std::optional<Bytes> Box::writeRegister(std::uint8_t reg, std::uint8_t value, BoxTimeMs now) {
    if (reg == kHpdRegister) {
        ++hpdPulses_;
        inputBackAt_ = now + kInputDropMs;
    } else if (const auto byte = settingsByteOf(reg)) {
        registers_[*byte] = value;
    }
    // Registers the box does not have are acknowledged and ignored, as the firmware does.
    return Bytes{0xE0, 0x00};
}

bool Box::setBlock(std::uint8_t block, std::span<const std::uint8_t> bytes) {
    if (block < kFirstStatusBlock || block > kLastStatusBlock || bytes.size() > kMaxReply - 1) {
        return false;
    }
    setBlocks_[block - kFirstStatusBlock] = Bytes(bytes.begin(), bytes.end());
    return true;
}

std::optional<Bytes> Box::blockBytes(std::uint8_t block, BoxTimeMs now) const {
    Bytes reply(kMaxReply - 1, 0);
    const bool inputAway = inputBackAt_ && now < *inputBackAt_;
    if (block >= kFirstStatusBlock && block <= kLastStatusBlock && !inputAway &&
        setBlocks_[block - kFirstStatusBlock]) {
        const Bytes& set = *setBlocks_[block - kFirstStatusBlock];
        std::copy(set.begin(), set.end(), reply.begin());
        return reply;
    }
    Bytes contents;
    if (block == 9) {
        contents.assign(kFirmwareVersion.begin(), kFirmwareVersion.end());
    } else if (const Bytes* b = scenarioAt(now).block(block)) {
        contents = *b;
    } else {
        return std::nullopt;
    }
    reply[0] = block;
    std::copy_n(contents.begin(), std::min(contents.size(), reply.size() - 1), reply.begin() + 1);
    return reply;
}

std::optional<Bytes> Box::readBlock(std::uint8_t count, std::uint8_t block, BoxTimeMs now) const {
    if (count == 0) {
        return std::nullopt;
    }
    const auto bytes = blockBytes(block, now);
    if (!bytes) {
        return std::nullopt;
    }
    Bytes reply(std::min<std::size_t>(count, kMaxReply), 0);
    reply[0] = 0xE0;
    std::copy_n(bytes->begin(), reply.size() - 1, reply.begin() + 1);
    return reply;
}

Bytes Box::readSettings(std::uint8_t count) const {
    Bytes reply(std::min<std::size_t>(count, kMaxReply), 0);
    reply[0] = 0xE1;
    if (reply.size() > 1) {
        reply[1] = static_cast<std::uint8_t>(kSettingsCount);
        const auto bytes = settingsBlock();
        std::copy_n(bytes.begin(), std::min(bytes.size(), reply.size() - 2), reply.begin() + 2);
    }
    return reply;
}

Bytes Box::enterIsp(std::span<const std::uint8_t> f) {
    if (fire(faults_.reject[static_cast<std::size_t>(FrameKind::EnterIsp)])) {
        return {f[2], kRefuse};
    }
    isp_ = true;
    selected_ = f[2] == 0xC8 ? FlashChip::Fpga1 : FlashChip::Fpga2;
    blockIndex_.reset();
    packetInBlock_ = 0;
    return {f[2], kAccept};
}

Bytes Box::setBlockIndex(std::uint8_t block) {
    if (fire(faults_.reject[static_cast<std::size_t>(FrameKind::SetBlockIndex)])) {
        return {kIspEcho, kRefuse};
    }
    if (!isp_) {
        ++misuse_.blockIndexOutsideIsp;
        return {kIspEcho, kRefuse};
    }
    if (block >= flashBlocks(*selected_)) {
        ++misuse_.blockIndexOutOfRange;
        blockIndex_.reset();
        return {kIspEcho, kRefuse};
    }
    blockIndex_ = block;
    packetInBlock_ = 0;
    return {kIspEcho, kAccept};
}

Bytes Box::writeFlashPacket(std::span<const std::uint8_t> f) {
    const bool rejectedByKind =
        fire(faults_.reject[static_cast<std::size_t>(FrameKind::WriteFlashPacket)]);
    const bool rejectedByNumber = faults_.rejectPacketIn > 0 && --faults_.rejectPacketIn == 0;
    if (rejectedByKind || rejectedByNumber) {
        return {kIspEcho, kRefuse};
    }
    if (!isp_) {
        ++misuse_.packetOutsideIsp;
        return {kIspEcho, kRefuse};
    }
    if (!blockIndex_) {
        ++misuse_.packetBeforeBlockIndex;
        return {kIspEcho, kRefuse};
    }
    if (packetInBlock_ >= kFlashBlockSize / kFlashPacketSize) {
        ++misuse_.packetPastBlockEnd;
        return {kIspEcho, kRefuse};
    }
    FlashWrite write{*selected_, *blockIndex_, static_cast<std::uint8_t>(packetInBlock_), {}};
    std::copy_n(f.begin() + 5, kFlashPacketSize, write.data.begin());
    auto& chip = flash_[static_cast<std::size_t>(*selected_)];
    const std::size_t at = *blockIndex_ * kFlashBlockSize + packetInBlock_ * kFlashPacketSize;
    std::copy(write.data.begin(), write.data.end(), chip.begin() + static_cast<std::ptrdiff_t>(at));
    writeLog_.push_back(write);
    ++packetInBlock_;
    return {kIspEcho, kAccept};
}

Bytes Box::exitIsp() {
    if (fire(faults_.reject[static_cast<std::size_t>(FrameKind::ExitIsp)])) {
        return {kIspEcho, kRefuse};
    }
    isp_ = false;
    blockIndex_.reset();
    return {kIspEcho, kAccept};
}

Bytes Box::resetBox(BoxTimeMs now) {
    ++resets_;
    isp_ = false;
    blockIndex_.reset();
    inputBackAt_ = now + kInputDropMs; // the box reboots
    return {0xDC};
}

std::vector<std::string> Box::statusLines(BoxTimeMs now) const {
    std::vector<std::string> lines;
    const auto& showing = scenarioAt(now);
    lines.push_back("serial=" + serial_);
    lines.push_back("scenario=" + std::string(scenarioSetting()) +
                    " showing=" + std::string(showing.name));
    lines.push_back("isp=" + std::to_string(isp_ ? 1 : 0) +
                    " flash=" + std::string(selected_ ? flashName(*selected_) : "none") +
                    " block=" + (blockIndex_ ? std::to_string(*blockIndex_) : "-") +
                    " resets=" + std::to_string(resets_) + " hpd=" + std::to_string(hpdPulses_));
    lines.push_back("frames=" + std::to_string(frames_) + " unknown=" +
                    std::to_string(unknownFrames_) + " writes=" + std::to_string(writeLog_.size()));
    {
        std::ostringstream l;
        l << "misuse=" << (misuse_.any() ? 1 : 0)
          << " packet-outside-isp=" << misuse_.packetOutsideIsp
          << " packet-before-block-index=" << misuse_.packetBeforeBlockIndex
          << " packet-past-block-end=" << misuse_.packetPastBlockEnd
          << " block-index-outside-isp=" << misuse_.blockIndexOutsideIsp
          << " block-index-out-of-range=" << misuse_.blockIndexOutOfRange;
        lines.push_back(l.str());
    }
    std::string settings = "settings=" + base::hexBytes(settingsBlock());
    std::ranges::replace(settings, ' ', ',');
    lines.push_back(settings);
    lines.push_back("edid-switch=" + std::to_string(switches_.edid) +
                    " audio-switch=" + std::to_string(switches_.audio));
    lines.push_back("faults=" + faults_.describe());
    return lines;
}

} // namespace telmar::sim
