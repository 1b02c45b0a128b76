// SPDX-License-Identifier: MIT
#pragma once

#include "backends/TraceFormat.h"
#include "link/Clock.h"
#include "updater/Variant.h"
#include "usb/Driver.h"

#include <functional>
#include <span>
#include <string>

// The recorded sessions of tests/traces/, run through the programs' own code: the
// control panel's window (offscreen) and the updater's procedure. Recording and
// replay run the same code, so what the user saw can be compared line by line.
namespace telmar::test {

struct PanelAction {
    enum Kind { Poll, Click, Close } kind = Close;
    const char* widget = nullptr; // Click: the control's object name
};

// Starts the window on `driver`, then takes actions from `next` until it says Close,
// and closes the window. Returns what the user saw: every status-bar message and
// box in order, then the window's texts at the end. Needs a QApplication.
std::string runPanelSession(usb::Driver& driver, link::Clock& clock,
                            const std::function<PanelAction()>& next);

// What a recorded panel session did next, read from the next frame it wrote: a
// settings read starts a poll, a register write is the click that writes it.
PanelAction nextPanelAction(std::span<const backends::TraceEntry> remaining);

// One whole update. Returns every line drawn, every box and the exit code asked for.
std::string runUpdaterSession(usb::Driver& driver, link::Clock& clock,
                              const updater::Variant& variant);

// The updater build a trace's program name stands for, or nullptr.
const updater::Variant* updaterVariantFor(const std::string& program);

inline constexpr const char* kPanelProgram = "LUMORA_GUI";

} // namespace telmar::test
