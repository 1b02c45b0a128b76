// SPDX-License-Identifier: MIT
#include "panel/SettingsControls.h"

namespace telmar::panel {

namespace {

namespace sb = protocol::settings_byte;
using protocol::Register;

struct TwoWayRow {
    Register reg;
    std::size_t mirrorIndex;
    std::uint8_t valueIfChecked;
    std::uint8_t valueIfFirst; // the value that checks the pair's first button
    bool ControlStates::*firstChecked;
    const char* textIfChecked;
    const char* textOtherwise;
};

// In the order of TwoWay. Every row writes the opposite of valueIfChecked (0 or 1) when
// the consulted button is not checked. HDCP is the odd one: its consulted button means 0.
constexpr TwoWayRow kTwoWayRows[] = {
    {Register::LogoLed, sb::LogoLed, 1, 1, &ControlStates::ledEnable, "Logo LED ON",
     "Logo LED OFF"},
    {Register::AudioFrame, sb::AudioFrame, 1, 0, &ControlStates::frame720, "Audio Frame 1080p",
     "Audio Frame 720p"},
    {Register::HdcpVersion, sb::HdcpVersion, 0, 0, &ControlStates::encFollow, "HDCP Follow",
     "HDCP 1.4"},
    {Register::Htpc, sb::Htpc, 1, 1, &ControlStates::htpcEnable, "HTPC Enabled", "HTPC Disabled"},
    {Register::HdmiAudioMute, sb::HdmiAudioMute, 1, 1, &ControlStates::hdmiAudioEnable,
     "HDMI AUDIO MUTE Enabled", "HDMI AUDIO MUTE Disabled"},
};

const TwoWayRow& twoWayRow(TwoWay setting) {
    return kTwoWayRows[static_cast<std::size_t>(setting)];
}

// In the order of ModeChoice, with the register value of each.
struct ModeRow {
    std::uint8_t value;
    const char* edidText;
    const char* audioText;
};
constexpr ModeRow kModeRows[] = {
    {3, "EDID 4k60 HDR selected", "AUDIO FULL selected"},
    {1, "EDID AUTOMIX selected", "AUDIO AUTOMIX selected"},
    {2, "EDID 4k60 SDR selected", "AUDIO STEREO selected"},
};

std::optional<ModeChoice> modeFromByte(std::uint8_t value) {
    for (std::size_t i = 0; i < std::size(kModeRows); ++i) {
        if (kModeRows[i].value == value) {
            return static_cast<ModeChoice>(i);
        }
    }
    return std::nullopt;
}

} // namespace

SettingWrite twoWayWrite(TwoWay setting, bool consultedChecked) {
    const TwoWayRow& row = twoWayRow(setting);
    const auto value =
        static_cast<std::uint8_t>(consultedChecked ? row.valueIfChecked : 1 - row.valueIfChecked);
    return {row.reg, value, row.mirrorIndex,
            consultedChecked ? row.textIfChecked : row.textOtherwise};
}

SettingWrite guiEnableWrite(bool on) {
    return {Register::GuiEnable, static_cast<std::uint8_t>(on ? 1 : 0), sb::GuiEnable,
            on ? "GUI Control Enabled" : "GUI Control Disabled"};
}

SettingWrite hpdWrite() {
    return {Register::Hpd, 1, std::nullopt, "HPD sent"};
}

std::optional<SettingWrite> modeWrite(ModeGroup group, bool upChecked, bool midChecked,
                                      bool dnChecked) {
    std::optional<ModeChoice> choice;
    if (upChecked) {
        choice = ModeChoice::Up;
    } else if (midChecked) {
        choice = ModeChoice::Mid;
    } else if (dnChecked) {
        choice = ModeChoice::Dn;
    } else {
        return std::nullopt;
    }
    const bool edid = group == ModeGroup::Edid;
    const ModeRow& row = kModeRows[static_cast<std::size_t>(*choice)];
    return SettingWrite{edid ? Register::EdidMode : Register::AudioMode, row.value,
                        edid ? sb::EdidMode : sb::AudioMode, edid ? row.edidText : row.audioText};
}

ControlStates controlStatesFor(const protocol::SettingsMirror& settings) {
    // HDCP and audio frame treat 0 as special; the others treat 1 as on.
    ControlStates s;
    for (const TwoWayRow& row : kTwoWayRows) {
        s.*row.firstChecked = settings[row.mirrorIndex] == row.valueIfFirst;
    }
    s.guiOn = settings[sb::GuiEnable] == 1;
    s.edid = modeFromByte(settings[sb::EdidMode]);
    s.audio = modeFromByte(settings[sb::AudioMode]);
    return s;
}

ControlStates formStartStates() {
    ControlStates s;
    s.edid = ModeChoice::Mid;
    s.audio = ModeChoice::Mid;
    return s;
}

void recordAccepted(ControlStates& states, const SettingWrite& write) {
    if (const auto setting = twoWayOf(write.reg)) {
        const TwoWayRow& row = twoWayRow(*setting);
        states.*row.firstChecked = write.value == row.valueIfFirst;
    } else if (write.reg == Register::GuiEnable) {
        states.guiOn = write.value == 1;
    } else if (write.reg == Register::EdidMode) {
        states.edid = modeFromByte(write.value);
    } else if (write.reg == Register::AudioMode) {
        states.audio = modeFromByte(write.value);
    }
}

bool firstChecked(const ControlStates& states, TwoWay setting) {
    return states.*twoWayRow(setting).firstChecked;
}

std::optional<TwoWay> twoWayOf(Register reg) {
    for (std::size_t i = 0; i < std::size(kTwoWayRows); ++i) {
        if (kTwoWayRows[i].reg == reg) {
            return static_cast<TwoWay>(i);
        }
    }
    return std::nullopt;
}

ProgressView progressView(int current, int maximum) {
    if (current <= 0 || maximum <= 0) {
        return {};
    }
    return {true, maximum, current};
}

} // namespace telmar::panel
