// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace telmar::base {

// Bytes as "10 04 E0 00 00", as the log and the trace files show them.
std::string hexBytes(std::span<const std::uint8_t> bytes);
// Bytes as "1004E00000", as the simulator's wire carries them.
std::string toHex(std::span<const std::uint8_t> bytes);
// Either form back, digits of either case; spaces between byte pairs only when
// `spaced`. nullopt for anything else, such as an odd digit out.
std::optional<std::vector<std::uint8_t>> fromHex(std::string_view hex, bool spaced = false);

} // namespace telmar::base
