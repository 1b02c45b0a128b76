// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace telmar::sim {

// The frames the box knows, by what the first bytes say.
enum class FrameKind {
    WriteRegister,    // 10 04 E0 reg val
    ReadBlock,        // 11 N E0 B
    ReadSettings,     // 11 N E1
    EnterIsp,         // 10 05 C8|78 0F 40
    SetBlockIndex,    // 10 05 50 01 bb
    WriteFlashPacket, // 10 15 50 41 10 + 16 bytes
    ExitIsp,          // 10 05 50 02 00
    ResetBox,         // 11 01 DC
    Unknown,
};
constexpr std::size_t kFrameKindCount = 8; // known kinds

FrameKind classifyFrame(std::span<const std::uint8_t> frame);
std::optional<FrameKind> frameKindFromName(std::string_view name);

// How many more times a fault fires: 0 = off, kAlways = until cleared.
using FaultCount = std::int64_t;
constexpr FaultCount kAlways = -1;

// Fires the fault once if it is armed, counting it down.
inline bool fire(FaultCount& remaining) {
    if (remaining == 0) {
        return false;
    }
    if (remaining > 0) {
        --remaining;
    }
    return true;
}

// Faults of one simulated box, switchable at run time.
struct Faults {
    // Frame level, applied by the box model.
    FaultCount drop = 0;                     // the next n frames get no reply
    FaultCount truncate = 0;                 // the next n replies are cut ...
    std::size_t truncateTo = 0;              // ... to this many bytes
    FaultCount wrongByte0 = 0;               // the next n replies get ...
    std::uint8_t byte0Value = 0x00;          // ... this byte 0
    FaultCount reject[kFrameKindCount] = {}; // reply byte 1 is 00 for this kind
    FaultCount rejectPacketIn = 0;           // the k-th packet from now (1 = next) is refused
    std::optional<FaultCount> silenceAfter;  // answer this many more frames, then none
    std::optional<FaultCount> unplugAfter;   // handle this many more frames, leave with the next

    // Driver level, applied by the daemon (count, string, open) or by the driver
    // backend on the box's open handles (flush, close, queue check).
    FaultCount count = 0;
    FaultCount string = 0;
    FaultCount open = 0;
    FaultCount flush = 0;
    FaultCount close = 0;
    FaultCount queue = 0;

    // One line describing every armed fault, "none" when there is none.
    std::string describe() const;
};

// Applies one control command's fault arguments, e.g. {"drop", "3"} or {"clear"}.
// Returns an error text, empty on success.
std::string applyFault(Faults& faults, std::span<const std::string> args);

// Usage lines for the fault command.
std::string_view faultUsage();

} // namespace telmar::sim
