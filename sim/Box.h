// SPDX-License-Identifier: MIT
#pragma once

#include "sim/Faults.h"
#include "sim/Scenarios.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace telmar::sim {

// Box time in milliseconds. The model never reads a clock: every call that depends on
// time is told the current box time.
using BoxTimeMs = std::uint64_t;

enum class FlashChip { Fpga1 = 0, Fpga2 = 1 };
constexpr std::size_t kFlashBlockSize = 512;
constexpr std::size_t kFlashPacketSize = 16;
constexpr std::size_t kFpga1Blocks = 248;
constexpr std::size_t kFpga2Blocks = 50;
std::size_t flashBlocks(FlashChip chip);
std::string_view flashName(FlashChip chip); // "fpga1", "fpga2"
std::optional<FlashChip> flashChipNamed(std::string_view name);

// One packet that landed in a flash.
struct FlashWrite {
    FlashChip chip;
    std::uint8_t block;
    std::uint8_t packet;
    std::array<std::uint8_t, kFlashPacketSize> data;
};

// Frames the box got in a state where a real box would write garbage or nothing.
struct Misuse {
    unsigned packetOutsideIsp = 0;
    unsigned packetBeforeBlockIndex = 0;
    unsigned packetPastBlockEnd = 0; // a 33rd packet after one block index
    unsigned blockIndexOutsideIsp = 0;
    unsigned blockIndexOutOfRange = 0; // past the selected flash's last block
    bool any() const;
    bool operator==(const Misuse&) const = default;
};

// What one frame did.
struct FrameOutcome {
    FrameKind kind = FrameKind::Unknown;
    std::optional<Bytes> reply; // nullopt: the box does not answer
    bool unplug = false;        // the box left the bus before this frame arrived
};

constexpr std::size_t kSettingsCount = 20;
constexpr std::size_t kMaxReply = 64; // one full-speed packet

// Slide-switch and mode values: 3 = UP, 1 = MID, 2 = DN.
struct Switches {
    std::uint8_t edid = 3;
    std::uint8_t audio = 1;
    bool operator==(const Switches&) const = default;
};
// "up", "mid", "dn" or the number 1 to 3.
std::optional<std::uint8_t> parseSwitchPosition(std::string_view text);

// The simulated box: settings registers, status blocks from an input scenario, the
// two flash chips behind programming mode, and the faults switched on for it.
class Box {
  public:
    static constexpr std::array<std::uint8_t, 6> kFirmwareVersion = {2, 1, 0, 4, 1, 8};
    // How long a hot-plug pulse or a reset keeps the input away.
    static constexpr BoxTimeMs kInputDropMs = 2000;

    explicit Box(std::string serial = "2031");

    // One request frame in, the reply (if any) out.
    FrameOutcome handleFrame(std::span<const std::uint8_t> frame, BoxTimeMs now);

    const std::string& serial() const { return serial_; }

    // Input scenario by name, or "demo" to cycle through all of them from `now` on.
    bool setScenario(std::string_view name, BoxTimeMs now);
    bool demo() const { return demo_; }
    // The preset on the input at `now` ("no-input" while a hot-plug pulse or reset lasts).
    const Scenario& scenarioAt(BoxTimeMs now) const;
    std::string_view scenarioSetting() const; // "demo" or the fixed preset's name

    // Status blocks put on the input by hand, such as blocks seen in a real box's trace:
    // the reply bytes from offset 1 on (offset 0 stays E0), the rest zero. They stay
    // until the next setScenario; while a hot-plug pulse or a reset lasts the input is
    // away all the same. False for a block outside 11 to 15 or more than 63 bytes.
    static constexpr std::uint8_t kFirstStatusBlock = 11;
    static constexpr std::uint8_t kLastStatusBlock = 15;
    bool setBlock(std::uint8_t block, std::span<const std::uint8_t> bytes);
    // What a full read of a status block returns at `now`, from offset 1 on.
    std::optional<Bytes> blockBytes(std::uint8_t block, BoxTimeMs now) const;

    // Settings bytes as the settings block reports them.
    std::array<std::uint8_t, kSettingsCount> settingsBlock() const;
    void setSwitches(Switches s) { switches_ = s; }
    Switches switches() const { return switches_; }

    bool inIsp() const { return isp_; }
    std::optional<FlashChip> selectedFlash() const { return selected_; }
    const Bytes& flash(FlashChip chip) const { return flash_[static_cast<std::size_t>(chip)]; }
    const std::vector<FlashWrite>& writeLog() const { return writeLog_; }
    const Misuse& misuse() const { return misuse_; }
    unsigned resets() const { return resets_; }
    unsigned hpdPulses() const { return hpdPulses_; }
    std::uint64_t frames() const { return frames_; }
    std::uint64_t unknownFrames() const { return unknownFrames_; }

    Faults& faults() { return faults_; }
    const Faults& faults() const { return faults_; }

    // Machine-readable state, one "key=value ..." line each.
    std::vector<std::string> statusLines(BoxTimeMs now) const;

  private:
    std::optional<Bytes> answer(FrameKind kind, std::span<const std::uint8_t> frame, BoxTimeMs now);
    std::optional<Bytes> writeRegister(std::uint8_t reg, std::uint8_t value, BoxTimeMs now);
    std::optional<Bytes> readBlock(std::uint8_t count, std::uint8_t block, BoxTimeMs now) const;
    Bytes readSettings(std::uint8_t count) const;
    Bytes enterIsp(std::span<const std::uint8_t> frame);
    Bytes setBlockIndex(std::uint8_t block);
    Bytes writeFlashPacket(std::span<const std::uint8_t> frame);
    Bytes exitIsp();
    Bytes resetBox(BoxTimeMs now);

    std::string serial_;
    std::array<std::uint8_t, kSettingsCount> registers_{};
    Switches switches_;
    const Scenario* fixed_ = nullptr;
    bool demo_ = false;
    BoxTimeMs demoStart_ = 0;
    std::optional<BoxTimeMs> inputBackAt_;
    std::array<std::optional<Bytes>, kLastStatusBlock - kFirstStatusBlock + 1> setBlocks_;

    bool isp_ = false;
    std::optional<FlashChip> selected_;
    std::optional<std::uint8_t> blockIndex_;
    unsigned packetInBlock_ = 0;
    std::array<Bytes, 2> flash_;
    std::vector<FlashWrite> writeLog_;
    Misuse misuse_;
    unsigned resets_ = 0;
    unsigned hpdPulses_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t unknownFrames_ = 0;

    Faults faults_;
};

} // namespace telmar::sim
