// SPDX-License-Identifier: MIT
#pragma once

#include <span>

namespace telmar::panel {

// What a screen reader says for each control and status line of the form (several
// buttons read just "ENABLE" or "DISABLE"), and which caption label names it.
struct ControlName {
    const char* objectName;
    const char* accessibleName;
    const char* captionLabel; // the form's label that names the control, or nullptr
};

std::span<const ControlName> controlNames();

} // namespace telmar::panel
