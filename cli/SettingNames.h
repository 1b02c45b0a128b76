// SPDX-License-Identifier: MIT
#pragma once

#include "panel/SettingsControls.h"

#include <optional>
#include <span>
#include <string_view>

// The settings by the names the command line uses. Registers, values and
// confirmation texts come from the control panel's table; only the words are ours.
namespace telmar::cli {

enum class Setting { GuiControl, Edid, Audio, LogoLed, AudioFrame, Hdcp, Htpc, HdmiAudioMute };

struct SettingName {
    Setting setting;
    std::string_view name;
    std::span<const std::string_view> values; // the words `set` takes, in usage order
};

// Every setting, in the order `status` and `get` print them.
std::span<const SettingName> settingNames();
const SettingName* findSetting(std::string_view name);

// The register write of `set NAME VALUE`, as the panel's click would make it;
// nullopt when the value is not one of the setting's words.
std::optional<panel::SettingWrite> settingWrite(Setting setting, std::string_view value);

// The word for what the panel's controls show for a settings block; nullopt for an
// EDID or AUDIO mode byte that checks none of the three buttons.
std::optional<std::string_view> settingValue(Setting setting, const panel::ControlStates& states);

// EDID and AUDIO can be changed only while GUI control is on, as the panel's mode
// buttons are enabled only then.
constexpr bool needsGuiControl(Setting setting) {
    return setting == Setting::Edid || setting == Setting::Audio;
}

} // namespace telmar::cli
