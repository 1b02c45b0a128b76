// SPDX-License-Identifier: MIT
#include "cli/SettingNames.h"

#include "cli/Text.h"

#include <algorithm>
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

// The check box or pair of radio buttons behind a setting of two words, whose first
// word is shown by the check box checked or the pair's first button; for a pair, the
// word that stands for its consulted button being checked (rbLedEnable, rbFrame1080,
// rbEncFollow, ...).
struct TwoWordControl {
    Setting setting;
    std::optional<TwoWay> pair; // nullopt: the GUI control check box
    std::string_view consultedWord = {};
};

constexpr std::array<TwoWordControl, 6> kTwoWordControls = {{
    {Setting::GuiControl, std::nullopt},
    {Setting::LogoLed, TwoWay::LogoLed, "on"},
    {Setting::AudioFrame, TwoWay::AudioFrame, "1080"},
    {Setting::Hdcp, TwoWay::HdcpVersion, "follow"},
    {Setting::Htpc, TwoWay::Htpc, "on"},
    {Setting::HdmiAudioMute, TwoWay::HdmiAudioMute, "on"},
}};

const TwoWordControl* twoWordControl(Setting setting) {
    return findIn(kTwoWordControls, [setting](const auto& c) { return c.setting == setting; });
}

const SettingName& settingName(Setting setting) {
    return *findIn(kSettings, [setting](const SettingName& s) { return s.setting == setting; });
}

} // namespace

std::span<const SettingName> settingNames() {
    return kSettings;
}

const SettingName* findSetting(std::string_view name) {
    return findIn(kSettings, [name](const SettingName& s) { return s.name == name; });
}

std::optional<panel::SettingWrite> settingWrite(Setting setting, std::string_view value) {
    const std::span<const std::string_view> words = settingName(setting).values;
    const auto word = std::find(words.begin(), words.end(), value);
    if (word == words.end()) {
        return std::nullopt;
    }
    if (const TwoWordControl* control = twoWordControl(setting)) {
        return control->pair ? panel::twoWayWrite(*control->pair, value == control->consultedWord)
                             : panel::guiEnableWrite(value == "on");
    }
    // The command line checks one button of the three, as a click does.
    const auto choice = static_cast<ModeChoice>(word - words.begin());
    return panel::modeWrite(setting == Setting::Edid ? ModeGroup::Edid : ModeGroup::Audio,
                            choice == ModeChoice::Up, choice == ModeChoice::Mid,
                            choice == ModeChoice::Dn);
}

std::optional<std::string_view> settingValue(Setting setting, const panel::ControlStates& s) {
    if (const TwoWordControl* control = twoWordControl(setting)) {
        const bool first = control->pair ? panel::firstChecked(s, *control->pair) : s.guiOn;
        return settingName(setting).values[first ? 0 : 1];
    }
    const std::optional<ModeChoice> choice = setting == Setting::Edid ? s.edid : s.audio;
    if (!choice) {
        return std::nullopt;
    }
    return kModes[static_cast<std::size_t>(*choice)];
}

} // namespace telmar::cli
