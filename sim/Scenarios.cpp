// SPDX-License-Identifier: MIT
#include "sim/Scenarios.h"

#include "sim/InfoFrames.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace telmar::sim {

namespace {

// Input status (block 11): vendor format, its companion, HDCP (bits 2-1), GCP colour
// depth (bits 3-0), presence (bits 7-6).
constexpr std::uint8_t kPresent = 0xC0;
constexpr std::uint8_t kNoHdcp = 0x00;
constexpr std::uint8_t kHdcp14 = 0x02;
constexpr std::uint8_t kHdcp22 = 0x04;
constexpr std::uint8_t kDepthNotIndicated = 0x00;
constexpr std::uint8_t kDepth8 = 0x04;
constexpr std::uint8_t kDepth10 = 0x05;
constexpr std::uint8_t kDepth12 = 0x06;

Bytes inputStatus(std::uint8_t hdcp, std::uint8_t depth) {
    return {0x00, 0x00, hdcp, depth, kPresent};
}

// AVI block (block 12): type and version, then AVI payload bytes 1 to 13.
Bytes avi(const Avi& fields) {
    const auto pb = aviPayload(fields);
    // Sized once: GCC 12 sees a false overflow in inserting after a braced header.
    Bytes block(2 + pb.size());
    block[0] = 0x82;
    block[1] = 0x02;
    std::copy(pb.begin(), pb.end(), block.begin() + 2);
    return block;
}

// Audio status block (block 15): two unused bytes; rate code and HBR flag; IEC 60958
// channel status bytes 0 to 4; two unused bytes; audio InfoFrame payload bytes 1 to 4.
Bytes audio(SampleRate rate, bool hbr, const ChannelStatus& cs, unsigned channels,
            std::uint8_t allocation) {
    Bytes block{0x00, 0x00,
                static_cast<std::uint8_t>(static_cast<unsigned>(rate) | (hbr ? 0x20U : 0U))};
    const auto status = channelStatusBytes(cs);
    block.insert(block.end(), status.begin(), status.end());
    block.insert(block.end(), {0x00, 0x00});
    const auto info = audioInfoPayload(channels, allocation);
    block.insert(block.end(), info.begin(), info.end());
    return block;
}

Bytes pcm(SampleRate rate, std::uint8_t wordLength, unsigned channels, std::uint8_t allocation,
          std::uint8_t category = kCategoryGeneral) {
    return audio(rate, false,
                 {.linearPcm = true, .category = category, .rate = rate, .wordLength = wordLength},
                 channels, allocation);
}

// A compressed stream at its IEC 61937 frame rate; the layout is left to the stream.
Bytes bitstream(SampleRate rate) {
    return audio(rate, false, {.linearPcm = false, .rate = rate}, 0, 0x00);
}

// Lossless multichannel over four IEC 60958 streams: the box counts 192 kHz, the channel
// status carries the 768 kHz frame rate, and the InfoFrame announces eight channels.
Bytes highBitRate() {
    return audio(SampleRate::k192, true, {.linearPcm = false, .rate = SampleRate::k768}, 8, kCa7_1);
}

// A UHD disc mastered on a P3-D65 1000 cd/m2 monitor.
const Mastering kUhdDiscGrade{.eotf = kEotfPq,
                              .primaries = kP3D65Gbr,
                              .white = kD65,
                              .maxLuminance = 1000,
                              .minLuminance = 50,
                              .maxCll = 962,
                              .maxFall = 358};

Avi uhdBt2020(std::uint8_t vic) {
    return {.colourFormat = kYcc420,
            .colorimetry = kExtended,
            .extendedColorimetry = kEcBt2020,
            .vic = vic};
}

// A preset as the source sends it. What a preset does not name is the common case:
// HDCP 1.4 at 8 bits, no SPD or HDR InfoFrame, stereo L-PCM 48 kHz 16-bit.
struct Preset {
    std::string_view name;
    std::string_view description;
    Bytes input = inputStatus(kHdcp14, kDepth8);
    Avi avi;
    Bytes spd{};
    Bytes hdr{};
    Bytes audio = pcm(SampleRate::k48, kWord16, 2, kCa2_0);
};

std::vector<Scenario> build() {
    const Bytes kestrelPlayer = spdInfoFrame("Kestrel", "UHD Player 7", kSourceBluRay);
    const Preset presets[] = {
        {.name = "1080p60",
         .description = "1080p60 RGB 16-235 BT.709 8-bit, HDCP 1.4, 2.0 L-PCM 48 kHz 16-bit, SPD",
         .avi = {.rgbRange = kRangeLimited, .vic = 16},
         .spd = kestrelPlayer},
        {.name = "4k60-hdr",
         .description =
             "4K60 YCbCr 4:2:0 BT.2020 10-bit, HDR SMPTE ST 2084, HDCP 2.2, HBR bitstream",
         .input = inputStatus(kHdcp22, kDepth10),
         .avi = uhdBt2020(97),
         .spd = kestrelPlayer,
         .hdr = drmInfoFrame(kUhdDiscGrade),
         .audio = highBitRate()},
        {.name = "4k30-hdmi14",
         .description = "HDMI 1.4 extended format 3840x2160p30, RGB 0-255 BT.709, HDCP 1.4, no SPD",
         // The format is named by the vendor InfoFrame; the AVI InfoFrame has no VIC.
         .input = {0x20, 0x01, kHdcp14, kDepth8, kPresent},
         .avi = {.rgbRange = kRangeFull, .vic = 0},
         .audio = pcm(SampleRate::k44_1, kWord16, 2, kCa2_0)},
        {.name = "3d-sbs",
         .description =
             "720p60 side-by-side 3D, YCbCr 4:4:4 BT.709, HDCP 1.4, compressed bitstream",
         .input = {0x40, 0x80, kHdcp14, kDepth8, kPresent},
         .avi = {.colourFormat = kYcc444, .vic = 4},
         .spd = spdInfoFrame("Sable", "3D Disc Deck", kSourceBluRay),
         .audio = bitstream(SampleRate::k48)},
        {.name = "pcm-7.1",
         .description = "1080p60 YCbCr 4:2:2 12-bit, 7.1 L-PCM 192 kHz 24-bit, no encryption",
         .input = inputStatus(kNoHdcp, kDepth12),
         .avi = {.colourFormat = kYcc422, .vic = 16},
         .spd = spdInfoFrame("Kestrel", "Media Server", kSourcePc),
         // Left HDR behind: the InfoFrame stays, with SDR and no metadata.
         .hdr = drmInfoFrame({.eotf = kEotfSdr}),
         .audio = pcm(SampleRate::k192, kWord24, 8, kCa7_1)},
        {.name = "spd-markup",
         .description = "1080p50 with a source name that holds markup and non-ASCII bytes",
         .avi = {.rgbRange = kRangeFull, .vic = 31},
         // Latin-1 bytes; the 16-byte description has no NUL.
         .spd = spdInfoFrame("<b>\xDC"
                             "ber",
                             "<i>Caf\xE9</i>&amp;", kSourceDigitalStb)},
        {.name = "4k50-hlg",
         .description = "4K50 broadcast in hybrid log-gamma, YCbCr 4:2:0 BT.2020 10-bit, HDCP 2.2",
         .input = inputStatus(kHdcp22, kDepth10),
         .avi = uhdBt2020(96),
         .spd = spdInfoFrame("Auklet", "Sat Receiver 4K", kSourceDigitalStb),
         // Live HLG has no light levels to report: MaxCLL and MaxFALL unknown.
         .hdr = drmInfoFrame({.eotf = kEotfHlg,
                              .primaries = kBt2020Rgb,
                              .white = kD65,
                              .maxLuminance = 1000,
                              .minLuminance = 50})},
        {.name = "pc-game",
         .description = "PC at 4K60, RGB 0-255, IT content game, underscanned, no encryption",
         .input = inputStatus(kNoHdcp, kDepth8),
         .avi = {.scan = kUnderscanned,
                 .colorimetry = kNoColorimetry,
                 .activeFormat = std::nullopt,
                 .rgbRange = kRangeFull,
                 .itContent = kContentGame,
                 .vic = 97},
         .spd = spdInfoFrame("Corvid", "PC Graphics 9", kSourcePc),
         .audio = pcm(SampleRate::k48, kWord24, 2, kCa2_0)},
        {.name = "film-2.39",
         .description = "1080p24 film at 2.39:1 with letterbox bars, YCbCr 4:2:2, bitstream",
         .input = inputStatus(kHdcp14, kDepthNotIndicated),
         // 1920 / 2.39 leaves 804 picture lines: 138 bar lines above and below.
         .avi = {.colourFormat = kYcc422,
                 .activeFormat = kAfdBoxWiderThan16x9,
                 .vic = 32,
                 .bars = {.topEnd = 138, .bottomStart = 943}},
         .spd = spdInfoFrame("Sable", "BD Deck 2", kSourceBluRay),
         .audio = bitstream(SampleRate::k48)},
        {.name = "pcm-5.1-96k",
         .description = "1080p60 from a disc player, 5.1 L-PCM 96 kHz 24-bit, HDCP 1.4",
         .avi = {.colourFormat = kYcc444, .vic = 16},
         .spd = spdInfoFrame("Sable", "Universal Player", kSourceDvdPlayer),
         .audio = pcm(SampleRate::k96, kWord24, 6, kCa5_1, kCategoryDvd)},
        {.name = "hbr-7.1",
         .description = "1080p24 film with a lossless 7.1 HBR bitstream, HDCP 1.4",
         .avi = {.colourFormat = kYcc444, .vic = 32},
         .spd = kestrelPlayer,
         .audio = highBitRate()},
    };
    std::vector<Scenario> all;
    for (const Preset& p : presets) {
        all.push_back({p.name, p.description, p.input, avi(p.avi), p.spd, p.hdr, p.audio});
    }
    all.push_back(
        {"no-input", "nothing on the HDMI input", {0x00, 0x00, 0x00, 0x00, 0x00}, {}, {}, {}, {}});
    return all;
}

const std::vector<Scenario>& table() {
    static const std::vector<Scenario> all = build();
    return all;
}

} // namespace

const Bytes* Scenario::block(std::uint8_t number) const {
    const Bytes* blocks[] = {&inputStatus, &avi, &sourceProduct, &hdr, &audio};
    return number >= 11 && number <= 15 ? blocks[number - 11] : nullptr;
}

std::span<const Scenario> scenarios() {
    return table();
}

const Scenario* findScenario(std::string_view name) {
    const auto found = std::ranges::find(table(), name, &Scenario::name);
    return found == table().end() ? nullptr : &*found;
}

const Scenario& noInput() {
    static const Scenario* none = findScenario("no-input");
    return *none;
}

} // namespace telmar::sim
