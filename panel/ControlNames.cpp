// SPDX-License-Identifier: MIT
#include "panel/ControlNames.h"

namespace telmar::panel {

namespace {

// Captions label the first choice of their row; the second is reached from it.
constexpr ControlName kNames[] = {
    {"cbEnableGui", "Enable GUI control", nullptr},
    {"rbEdidUp", "EDID mode: UP, 4K60 600MHz HLG/HDR10+", nullptr},
    {"rbEdidMid", "EDID mode: MID, BOT out sink EDID", nullptr},
    {"rbEdidDn", "EDID mode: DN, 4K60 600MHz SDR", nullptr},
    {"rbAudioUp", "Audio mode: UP, force all audio formats", nullptr},
    {"rbAudioMid", "Audio mode: MID, BOT video and TOP audio", nullptr},
    {"rbAudioDn", "Audio mode: DN, only L/R audio", nullptr},
    {"rbLedEnable", "Logo LED: enable", "label_23"},
    {"rbLedDisable", "Logo LED: disable", nullptr},
    {"rbFrame720", "TOP audio frame: 720p60", "label_26"},
    {"rbFrame1080", "TOP audio frame: 1080p60", nullptr},
    {"rbEncFollow", "BOT HDCP version: follow", "label_6"},
    {"rbEnc14", "BOT HDCP version: 1.4", nullptr},
    {"rbHtpcEnable", "HTPC mode: enable", "label_7"},
    {"rbHtpcDisable", "HTPC mode: disable", nullptr},
    {"rbHdmiAudioEnable", "Mute HDMI audio: enable", "label_8"},
    {"rbHdmiAudioDisable", "Mute HDMI audio: disable", nullptr},
    {"pbHpd", "HPD/reset: trigger", "label_25"},
    {"labelFw", "Firmware version", nullptr},
    {"lblWarning", "Connection", nullptr},
    {"lblVideoSource", "Video source", nullptr},
    {"label_video_format", "Video format", nullptr},
    {"lblColor", "Color space", nullptr},
    {"lblDeepC", "Deep color", nullptr},
    {"lblHdcp", "HDCP", nullptr},
    {"lblHdr", "HDR input", nullptr},
    {"lblAudio", "Audio", nullptr},
};

} // namespace

std::span<const ControlName> controlNames() {
    return kNames;
}

} // namespace telmar::panel
