// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace telmar::sim {

using Bytes = std::vector<std::uint8_t>;

// What the box sees on its HDMI input, as the raw contents of the status blocks it
// reports. Each block's first byte lands at reply offset 2 (after the E0 echo and
// one more byte); bytes a block does not list read as 0.
struct Scenario {
    std::string_view name;
    std::string_view description;
    Bytes inputStatus;   // block 11
    Bytes avi;           // block 12
    Bytes sourceProduct; // block 13
    Bytes hdr;           // block 14
    Bytes audio;         // block 15

    // Contents of status block `block` (11 to 15), or nullptr for any other number.
    const Bytes* block(std::uint8_t block) const;
};

// Every preset, in the order demo mode shows them.
std::span<const Scenario> scenarios();
const Scenario* findScenario(std::string_view name);
// The empty input, shown while a hot-plug pulse or a reset lasts.
const Scenario& noInput();

// The name that selects cycling through all presets.
inline constexpr std::string_view kDemoScenario = "demo";
// Box time each preset stays on in demo mode: two poll periods of the control panel.
inline constexpr std::uint64_t kDemoPeriodMs = 6000;

} // namespace telmar::sim
