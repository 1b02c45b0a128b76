// SPDX-License-Identifier: MIT
#include "panel/SettingsControls.h"

#include <gtest/gtest.h>
#include <optional>

using namespace telmar::panel;

namespace {

// The window tests click every control; this covers the mode rule that exclusive
// buttons never let a click reach: the first checked of up, mid, dn decides.
struct ModeCase {
    ModeGroup group;
    bool up, mid, dn;
    std::optional<int> value; // nullopt: nothing written
};

TEST(SettingsControls, FirstCheckedModeDecides) {
    const ModeCase cases[] = {
        {ModeGroup::Edid, true, true, true, 3},      {ModeGroup::Edid, false, true, true, 1},
        {ModeGroup::Edid, false, false, false, {}},  {ModeGroup::Audio, true, false, true, 3},
        {ModeGroup::Audio, false, false, false, {}},
    };
    for (const ModeCase& c : cases) {
        const auto w = modeWrite(c.group, c.up, c.mid, c.dn);
        ASSERT_EQ(w.has_value(), c.value.has_value());
        if (w) {
            EXPECT_EQ(int(w->value), *c.value);
        }
    }
}

} // namespace
