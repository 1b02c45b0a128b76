// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/ControlProtocol.h"
#include "protocol/Settings.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// What the control panel's settings controls mean, kept apart from the widgets:
// which register and value a click writes, what it confirms, and which check
// states a settings block gives the controls.
namespace telmar::panel {

// The five settings shown as a pair of radio buttons on the CONTROL page.
enum class TwoWay { LogoLed, AudioFrame, HdcpVersion, Htpc, HdmiAudioMute };
inline constexpr TwoWay kTwoWays[] = {TwoWay::LogoLed, TwoWay::AudioFrame, TwoWay::HdcpVersion,
                                      TwoWay::Htpc, TwoWay::HdmiAudioMute};
// The two three-way groups on the EDID/AUDIO page.
enum class ModeGroup { Edid, Audio };
enum class ModeChoice { Up, Mid, Dn };

// One register write caused by a click, and what follows once the box accepts it.
struct SettingWrite {
    protocol::Register reg;
    std::uint8_t value;
    std::optional<std::size_t> mirrorIndex; // settings byte recorded after acceptance
    const char* confirmation;               // status-bar text, nullptr for none
};

constexpr int kConfirmationMs = 2000;

// `consultedChecked`: the state of the pair's consulted button (rbLedEnable,
// rbFrame1080, rbEncFollow, rbHtpcEnable, rbHdmiAudioEnable).
SettingWrite twoWayWrite(TwoWay setting, bool consultedChecked);
SettingWrite guiEnableWrite(bool on);
SettingWrite hpdWrite();
// The first checked of up, mid, dn decides; none checked writes nothing.
std::optional<SettingWrite> modeWrite(ModeGroup group, bool upChecked, bool midChecked,
                                      bool dnChecked);

// Check and enabled states that one settings block gives the controls. Each bool
// names the first control of its pair; the second takes the opposite state.
struct ControlStates {
    bool encFollow = true;
    bool ledEnable = true;
    bool frame720 = true;
    bool htpcEnable = true;
    bool hdmiAudioEnable = true;
    bool guiOn = false;             // cbEnableGui, and the six mode buttons enabled
    std::optional<ModeChoice> edid; // nullopt: leave the three as they are
    std::optional<ModeChoice> audio;
    bool operator==(const ControlStates&) const = default;
};

ControlStates controlStatesFor(const protocol::SettingsMirror& settings);
// The states the form starts with, before the box has said anything.
ControlStates formStartStates();
// What `states` become once the box has accepted `write` (HPD changes nothing).
void recordAccepted(ControlStates& states, const SettingWrite& write);
// The check state `states` give the first button of a pair.
bool firstChecked(const ControlStates& states, TwoWay setting);
// The pair that writes `reg`; none for the GUI switch, the two modes and HPD.
std::optional<TwoWay> twoWayOf(protocol::Register reg);

// What on_ProgressChange does with the progress bar.
struct ProgressView {
    bool visible = false;
    int maximum = 0;
    int value = 0;
    bool operator==(const ProgressView&) const = default;
};

ProgressView progressView(int current, int maximum);

} // namespace telmar::panel
