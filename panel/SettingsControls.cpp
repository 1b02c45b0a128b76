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
    const char* textIfChecked;
    const char* textOtherwise;
};

// Every row writes the opposite of valueIfChecked (0 or 1) when the consulted
// button is not checked. HDCP is the odd one: its consulted button means 0.
constexpr TwoWayRow twoWayRow(TwoWay setting) {
    switch (setting) {
    case TwoWay::LogoLed:
        return {Register::LogoLed, sb::LogoLed, 1, "Logo LED ON", "Logo LED OFF"};
    case TwoWay::AudioFrame:
        return {Register::AudioFrame, sb::AudioFrame, 1, "Audio Frame 1080p", "Audio Frame 720p"};
    case TwoWay::HdcpVersion:
        return {Register::HdcpVersion, sb::HdcpVersion, 0, "HDCP Follow", "HDCP 1.4"};
    case TwoWay::Htpc:
        return {Register::Htpc, sb::Htpc, 1, "HTPC Enabled", "HTPC Disabled"};
    case TwoWay::HdmiAudioMute:
        return {Register::HdmiAudioMute, sb::HdmiAudioMute, 1, "HDMI AUDIO MUTE Enabled",
                "HDMI AUDIO MUTE Disabled"};
    }
    return {Register::LogoLed, sb::LogoLed, 1, nullptr, nullptr};
}

// Register value of each mode choice: up 3, mid 1, dn 2.
constexpr std::uint8_t modeValue(ModeChoice choice) {
    switch (choice) {
    case ModeChoice::Up:
        return 3;
    case ModeChoice::Mid:
        return 1;
    case ModeChoice::Dn:
        return 2;
    }
    return 1;
}

const char* modeText(ModeGroup group, ModeChoice choice) {
    const bool edid = group == ModeGroup::Edid;
    switch (choice) {
    case ModeChoice::Up:
        return edid ? "EDID 4k60 HDR selected" : "AUDIO FULL selected";
    case ModeChoice::Mid:
        return edid ? "EDID AUTOMIX selected" : "AUDIO AUTOMIX selected";
    case ModeChoice::Dn:
        return edid ? "EDID 4k60 SDR selected" : "AUDIO STEREO selected";
    }
    return nullptr;
}

std::optional<ModeChoice> modeFromByte(std::uint8_t value) {
    switch (value) {
    case 3:
        return ModeChoice::Up;
    case 1:
        return ModeChoice::Mid;
    case 2:
        return ModeChoice::Dn;
    default:
        return std::nullopt;
    }
}

} // namespace

SettingWrite twoWayWrite(TwoWay setting, bool consultedChecked) {
    const TwoWayRow row = twoWayRow(setting);
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
    return SettingWrite{edid ? Register::EdidMode : Register::AudioMode, modeValue(*choice),
                        edid ? sb::EdidMode : sb::AudioMode, modeText(group, *choice)};
}

ControlStates controlStatesFor(const protocol::SettingsMirror& settings) {
    // HDCP and audio frame treat 0 as special; the others treat 1 as on.
    ControlStates s;
    s.encFollow = settings[sb::HdcpVersion] == 0;
    s.ledEnable = settings[sb::LogoLed] == 1;
    s.frame720 = settings[sb::AudioFrame] == 0;
    s.htpcEnable = settings[sb::Htpc] == 1;
    s.hdmiAudioEnable = settings[sb::HdmiAudioMute] == 1;
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
    const bool one = write.value == 1;
    switch (write.reg) {
    case Register::LogoLed:
        states.ledEnable = one;
        break;
    case Register::AudioFrame:
        states.frame720 = write.value == 0;
        break;
    case Register::HdcpVersion:
        states.encFollow = write.value == 0;
        break;
    case Register::Htpc:
        states.htpcEnable = one;
        break;
    case Register::HdmiAudioMute:
        states.hdmiAudioEnable = one;
        break;
    case Register::GuiEnable:
        states.guiOn = one;
        break;
    case Register::EdidMode:
        states.edid = modeFromByte(write.value);
        break;
    case Register::AudioMode:
        states.audio = modeFromByte(write.value);
        break;
    case Register::Hpd:
        break;
    }
}

ProgressView progressView(int current, int maximum) {
    if (current <= 0 || maximum <= 0) {
        return {};
    }
    return {true, maximum, current};
}

} // namespace telmar::panel
