// SPDX-License-Identifier: MIT
#pragma once

namespace telmar::panel {

// The panel's own font, compiled into its resource bundle, so every text of the form
// fits its fixed geometry whatever fonts the system has.
inline constexpr int kPanelFontPointSize = 8;

// Loads the bundled font and makes it the application's font. False when the bundle
// holds no usable font; the application font is then left as it was.
bool installPanelFont();

} // namespace telmar::panel
