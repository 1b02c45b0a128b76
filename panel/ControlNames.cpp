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
    {"labelLogo", "TELMAR logo", nullptr},
};

constexpr Readout kReadouts[] = {
    {"labelFw", "Firmware version"},
    {"lblWarning", "Connection"},
    {"lblVideoSource", "Video source"},
    {"label_video_format", "Video format"},
    {"lblColor", "Color space"},
    {"lblDeepC", "Deep color"},
    {"lblHdcp", "HDCP"},
    {"lblHdr", "HDR input"},
    {"lblAudio", "Audio"},
};

} // namespace

std::span<const ControlName> controlNames() {
    return kNames;
}

std::span<const Readout> readouts() {
    return kReadouts;
}

} // namespace telmar::panel
