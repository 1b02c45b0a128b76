// SPDX-License-Identifier: MIT
#include "cli/SettingNames.h"

#include <array>

namespace telmar::cli {

namespace {

using panel::ModeChoice;
using panel::ModeGroup;
using panel::TwoWay;

constexpr std::array<std::string_view, 2> kOnOff = {"on", "off"};
constexpr std::array<std::string_view, 3> kModes = {"up", "mid", "dn"};
constexpr std::array<std::string_view, 2> kFrames = {"720", "1080"};
constexpr std::array<std::string_view, 2> kHdcp = {"follow", "1.4"};

constexpr std::array<SettingName, 8> kSettings = {{
    {Setting::GuiControl, "gui-control", kOnOff},
    {Setting::Edid, "edid", kModes},
    {Setting::Audio, "audio", kModes},
    {Setting::LogoLed, "logo-led", kOnOff},
    {Setting::AudioFrame, "audio-frame", kFrames},
    {Setting::Hdcp, "hdcp", kHdcp},
    {Setting::Htpc, "htpc", kOnOff},
    {Setting::HdmiAudioMute, "hdmi-audio-mute", kOnOff},
}};

// The pair of radio buttons behind a two-way setting, and the word that stands for
// its consulted button being checked (rbLedEnable, rbFrame1080, rbEncFollow, ...).
struct TwoWayWords {
    TwoWay pair;
    std::string_view consultedWord;
    std::string_view otherWord;
};

std::optional<TwoWayWords> twoWayWords(Setting setting) {
    switch (setting) {
    case Setting::LogoLed:
        return TwoWayWords{TwoWay::LogoLed, "on", "off"};
    case Setting::AudioFrame:
        return TwoWayWords{TwoWay::AudioFrame, "1080", "720"};
    case Setting::Hdcp:
        return TwoWayWords{TwoWay::HdcpVersion, "follow", "1.4"};
    case Setting::Htpc:
        return TwoWayWords{TwoWay::Htpc, "on", "off"};
    case Setting::HdmiAudioMute:
        return TwoWayWords{TwoWay::HdmiAudioMute, "on", "off"};
    default:
        return std::nullopt;
    }
}

std::optional<ModeChoice> modeChoice(std::string_view word) {
    if (word == "up") {
        return ModeChoice::Up;
    }
    if (word == "mid") {
        return ModeChoice::Mid;
    }
    if (word == "dn") {
        return ModeChoice::Dn;
    }
    return std::nullopt;
}

std::optional<std::string_view> modeWord(std::optional<ModeChoice> choice) {
    if (!choice) {
        return std::nullopt;
    }
    return kModes[static_cast<std::size_t>(*choice)];
}

} // namespace

std::span<const SettingName> settingNames() {
    return kSettings;
}

const SettingName* findSetting(std::string_view name) {
    for (const SettingName& s : kSettings) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

std::optional<panel::SettingWrite> settingWrite(Setting setting, std::string_view value) {
    if (const auto words = twoWayWords(setting)) {
        if (value != words->consultedWord && value != words->otherWord) {
            return std::nullopt;
        }
        return panel::twoWayWrite(words->pair, value == words->consultedWord);
    }
    if (setting == Setting::GuiControl) {
        if (value != "on" && value != "off") {
            return std::nullopt;
        }
        return panel::guiEnableWrite(value == "on");
    }
    const auto choice = modeChoice(value);
    if (!choice) {
        return std::nullopt;
    }
    // The command line checks one button of the three, as a click does.
    return panel::modeWrite(setting == Setting::Edid ? ModeGroup::Edid : ModeGroup::Audio,
                            *choice == ModeChoice::Up, *choice == ModeChoice::Mid,
                            *choice == ModeChoice::Dn);
}

std::optional<std::string_view> settingValue(Setting setting, const panel::ControlStates& s) {
    const auto pick = [](bool consulted, std::string_view yes, std::string_view no) {
        return consulted ? yes : no;
    };
    switch (setting) {
    case Setting::GuiControl:
        return pick(s.guiOn, "on", "off");
    case Setting::Edid:
        return modeWord(s.edid);
    case Setting::Audio:
        return modeWord(s.audio);
    case Setting::LogoLed:
        return pick(s.ledEnable, "on", "off");
    case Setting::AudioFrame:
        return pick(s.frame720, "720", "1080");
    case Setting::Hdcp:
        return pick(s.encFollow, "follow", "1.4");
    case Setting::Htpc:
        return pick(s.htpcEnable, "on", "off");
    case Setting::HdmiAudioMute:
        return pick(s.hdmiAudioEnable, "on", "off");
    }
    return std::nullopt;
}

} // namespace telmar::cli
