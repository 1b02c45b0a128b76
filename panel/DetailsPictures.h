// SPDX-License-Identifier: MIT
#pragma once

// What the signal details' two pictures draw, as data: the CIE 1931 xy chromaticity
// diagram (spectral locus, reference gamuts, the mastering display's primaries) and a
// speaker layout seen from above. A front end only maps these onto its canvas.

#include "status/SignalDetails.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace telmar::panel {

struct XyPoint {
    double x = 0;
    double y = 0;
    bool operator==(const XyPoint&) const = default;
};

struct SpectralPoint {
    int nanometres = 0;
    XyPoint xy;
};

// Chromaticities of the monochromatic stimuli, 380 to 780 nm in 5 nm steps.
std::span<const SpectralPoint> spectralLocus();

struct GamutTriangle {
    std::string_view name; // "BT.709", "DCI-P3", "BT.2020"
    XyPoint red, green, blue;
};
std::span<const GamutTriangle> referenceGamuts();
inline constexpr XyPoint kD65{0.3127, 0.3290};

struct MasteringPoints {
    XyPoint red, green, blue, white;
};
// The mastering display of the DRM InfoFrame; empty when the input carries none.
std::optional<MasteringPoints> masteringPoints(const status::SignalDetails& details);

// An approximate sRGB colour for a chromaticity, at full brightness, for the
// diagram's fill; values outside sRGB are brought into it.
std::array<std::uint8_t, 3> displayColour(XyPoint xy);

struct SpeakerSpot {
    status::Speaker speaker;
    double x = 0; // 0 left wall to 1 right wall
    double y = 0; // 0 screen to 1 back wall
    bool top = false;
};
// Every speaker a channel allocation can name, where it stands in the room.
std::span<const SpeakerSpot> speakerSpots();
inline constexpr XyPoint kListener{0.5, 0.62};
// The speakers of the Audio InfoFrame's channel allocation; none without one.
std::vector<status::Speaker> litSpeakers(const status::SignalDetails& details);

} // namespace telmar::panel
