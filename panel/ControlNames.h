// SPDX-License-Identifier: MIT
#pragma once

#include <span>

namespace telmar::panel {

// What a screen reader says for each control and image of the form (several
// buttons read just "ENABLE" or "DISABLE"), and which caption label names it.
struct ControlName {
    const char* objectName;
    const char* accessibleName;
    const char* captionLabel; // the form's label that names the control, or nullptr
};

std::span<const ControlName> controlNames();

// The labels whose text is a value (the status lines, the version, the connection
// message): their text is what a screen reader reads, so they carry no fixed name;
// `description` says what the value is, and is the name while the label is blank.
struct Readout {
    const char* objectName;
    const char* description;
};

std::span<const Readout> readouts();

} // namespace telmar::panel
