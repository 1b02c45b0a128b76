// SPDX-License-Identifier: MIT
#include "panel/SignalDetailsState.h"

#include "panel/DetailsPictures.h"
#include "sim/Scenarios.h"

#include <gtest/gtest.h>

namespace telmar::panel {
namespace {

// Chromaticity coordinates of the CIE 1931 spectral locus as the CIE tabulates them, to
// four places: a wrong digit in the colour-matching table moves one of these.
TEST(DetailsPictures, LocusMatchesTheTabulatedChromaticities) {
    struct Known {
        int nm;
        double x, y;
    };
    const Known known[] = {{380, 0.1741, 0.0050}, {450, 0.1566, 0.0177}, {485, 0.0687, 0.2007},
                           {505, 0.0039, 0.6548}, {520, 0.0743, 0.8338}, {560, 0.3731, 0.6245},
                           {600, 0.6270, 0.3725}, {700, 0.7347, 0.2653}};
    const auto locus = spectralLocus();
    ASSERT_EQ(locus.size(), 81u);
    for (const Known& k : known) {
        const SpectralPoint& p = locus[static_cast<std::size_t>((k.nm - 380) / 5)];
        EXPECT_EQ(p.nanometres, k.nm);
        EXPECT_NEAR(p.xy.x, k.x, 0.00015) << k.nm;
        EXPECT_NEAR(p.xy.y, k.y, 0.00015) << k.nm;
    }
    const auto white = displayColour(kD65);
    EXPECT_GE(std::min({white[0], white[1], white[2]}), 250);
}

status::StatusUpdate updateFor(std::string_view scenario) {
    status::StatusUpdate update;
    for (std::size_t i = 0; i < status::StatusBlocks::kCount; ++i) {
        const auto* bytes = sim::findScenario(scenario)->block(static_cast<std::uint8_t>(11 + i));
        update.blocks.replies[i][0] = 0xE0;
        std::copy(bytes->begin(), bytes->end(), update.blocks.replies[i].begin() + 2);
        update.blocks.read[i] = true;
    }
    return update;
}

// A change is marked for kChangeMarkMs on the panel's clock, also across its wrap.
TEST(SignalDetailsState, MarksLastTheirTimeAcrossTheClockWrap) {
    SignalDetailsState state;
    const std::uint32_t start = 0xFFFFFFF0;
    ASSERT_NE(state.take(updateFor("1080p60"), Connection::Connected, start), nullptr);
    EXPECT_FALSE(state.marked("video.format", start)); // the first values are no change
    state.take(updateFor("4k60-hdr"), Connection::Connected, start + 10);
    const std::uint32_t mark = SignalDetailsState::kChangeMarkMs;
    EXPECT_EQ(state.nextMarkEnd(start + 10), mark);
    EXPECT_TRUE(state.marked("video.format", start + 10 + mark - 1));
    EXPECT_FALSE(state.marked("video.format", start + 10 + mark));
    EXPECT_FALSE(state.marked("source.vendor", start + 10));
    EXPECT_FALSE(state.nextMarkEnd(start + 10 + mark));
    // A read of block 14 that failed once keeps the HDR values, unmarked.
    auto partial = updateFor("4k60-hdr");
    partial.blocks.read[3] = false;
    partial.blocks.replies[3] = {};
    state.take(partial, Connection::Connected, start + 10 + mark);
    EXPECT_TRUE(state.shown()->hdr && state.shown()->hdr->metadata);
    EXPECT_FALSE(state.nextMarkEnd(start + 10 + mark));
    // Without the box nothing is decoded and the last values stay, stale.
    EXPECT_EQ(state.take(updateFor("1080p60"), Connection::Disconnected, start + 20), nullptr);
    EXPECT_TRUE(state.stale());
    EXPECT_EQ(status::formatName(state.shown()->video), "3840x2160p60");
}

} // namespace
} // namespace telmar::panel
