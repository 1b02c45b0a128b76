// SPDX-License-Identifier: MIT
#pragma once

#include "link/PanelLink.h"

#include <string>
#include <string_view>

namespace telmar::status {

// The audio line when the audio status block could not be read.
inline constexpr std::string_view kAudioNoInfo = "Audio: no info";

// The audio line from a successfully read audio status block (block 15).
std::string composeAudioLine(const link::Reply& audioStatus);

} // namespace telmar::status
