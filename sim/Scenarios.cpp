// SPDX-License-Identifier: MIT
#include "sim/Scenarios.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace telmar::sim {

namespace {

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// A fixed-width text field, NUL-padded; a text of exactly `width` bytes has no NUL.
Bytes text(std::string_view s, std::size_t width) {
    Bytes field(width, 0);
    std::copy_n(s.begin(), std::min(s.size(), width), field.begin());
    return field;
}

Bytes le16(std::uint16_t v) {
    return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)};
}

// Type, version, length, checksum, payload: the InfoFrame as it arrives on HDMI, with
// a checksum that makes all its bytes sum to 0.
Bytes infoFrame(std::uint8_t type, std::uint8_t version, const Bytes& payload) {
    const auto length = static_cast<std::uint8_t>(payload.size());
    unsigned sum = type + version + length;
    for (auto b : payload) {
        sum += b;
    }
    const auto checksum = static_cast<std::uint8_t>((256 - (sum & 0xFF)) & 0xFF);
    return join({{type, version, length, checksum}, payload});
}

Bytes spd(std::string_view vendor, std::string_view product, std::uint8_t sourceInfo) {
    return infoFrame(0x83, 0x01, join({text(vendor, 8), text(product, 16), {sourceInfo}}));
}

// Dynamic Range and Mastering InfoFrame: EOTF, static metadata type 1 with BT.2020
// primaries, D65 white, 1000 cd/m2 peak, MaxCLL 1000, MaxFALL 400.
Bytes hdrStatic(std::uint8_t eotf) {
    return infoFrame(0x87, 0x01,
                     join({{eotf, 0x00},
                           le16(35400),
                           le16(14600),
                           le16(8500),
                           le16(39850),
                           le16(6550),
                           le16(2300),
                           le16(15635),
                           le16(16450),
                           le16(1000),
                           le16(50),
                           le16(1000),
                           le16(400)}));
}

// Input status (block 11): vendor format, its companion, HDCP (bits 2-1), GCP colour
// depth (bits 3-0), presence (bits 7-6).
constexpr std::uint8_t kPresent = 0xC0;
constexpr std::uint8_t kHdcp14 = 0x02;
constexpr std::uint8_t kHdcp22 = 0x04;
constexpr std::uint8_t kDepth8 = 0x04;
constexpr std::uint8_t kDepth10 = 0x05;
constexpr std::uint8_t kDepth12 = 0x06;

// AVI block (block 12): type and version, then AVI payload bytes 1 to 13.
Bytes avi(std::uint8_t pb1, std::uint8_t pb2, std::uint8_t pb3, std::uint8_t vic) {
    return {0x82, 0x02, pb1, pb2, pb3, vic, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
}

// Audio status block (block 15): two unused bytes; rate code and HBR flag; IEC 60958
// channel status bytes 0 to 4; two unused bytes; audio InfoFrame payload bytes 1 to 4.
Bytes audio(std::uint8_t rateAndHbr, std::initializer_list<std::uint8_t> channelStatus,
            std::uint8_t channelCount, std::uint8_t speakerAllocation) {
    Bytes block(3 + channelStatus.size() + 6, 0x00);
    block[2] = rateAndHbr;
    std::copy(channelStatus.begin(), channelStatus.end(), block.begin() + 3);
    const std::size_t infoFrame = 3 + channelStatus.size() + 2;
    block[infoFrame] = channelCount;
    block[infoFrame + 3] = speakerAllocation;
    return block;
}

const std::vector<Scenario>& table() {
    static const std::vector<Scenario> all = {
        {
            "1080p60",
            "1080p60 RGB 16-235 BT.709 8-bit, HDCP 1.4, 2.0 L-PCM 48 kHz 16-bit, SPD",
            {0x00, 0x00, kHdcp14, kDepth8, kPresent},
            avi(0x10, 0xA8, 0x04, 16),
            spd("Kestrel", "UHD Player 7", 0x0A),
            {},
            // 48 kHz; channel status: PCM, 48 kHz, 16-bit; 2 channels.
            audio(0x02, {0x04, 0x00, 0x00, 0x02, 0x02}, 0x01, 0x00),
        },
        {
            "4k60-hdr",
            "4K60 YCbCr 4:2:0 BT.2020 10-bit, HDR SMPTE ST 2084, HDCP 2.2, HBR bitstream",
            {0x00, 0x00, kHdcp22, kDepth10, kPresent},
            avi(0x70, 0xE8, 0x60, 97),
            spd("Kestrel", "UHD Player 7", 0x0A),
            hdrStatic(0x02),
            // HBR flag over 192 kHz; channel status: not linear PCM, 768 kHz frame rate.
            audio(0x26, {0x06, 0x00, 0x00, 0x09, 0x00}, 0x07, 0x13),
        },
        {
            "4k30-hdmi14",
            "HDMI 1.4 extended format 3840x2160p30, RGB 0-255 BT.709, HDCP 1.4, no SPD",
            {0x20, 0x01, kHdcp14, kDepth8, kPresent},
            avi(0x10, 0xA8, 0x08, 0),
            {},
            {},
            audio(0x01, {0x04, 0x00, 0x00, 0x00, 0x02}, 0x01, 0x00),
        },
        {
            "3d-sbs",
            "720p60 side-by-side 3D, YCbCr 4:4:4 BT.709, HDCP 1.4, compressed bitstream",
            {0x40, 0x80, kHdcp14, kDepth8, kPresent},
            avi(0x50, 0xA8, 0x00, 4),
            spd("Sable", "3D Disc Deck", 0x0A),
            {},
            audio(0x02, {0x06, 0x00, 0x00, 0x02, 0x00}, 0x00, 0x00),
        },
        {
            "pcm-7.1",
            "1080p60 YCbCr 4:2:2 12-bit, 7.1 L-PCM 192 kHz 24-bit, no encryption",
            {0x00, 0x00, 0x00, kDepth12, kPresent},
            avi(0x30, 0xA8, 0x00, 16),
            spd("Kestrel", "Media Server", 0x08),
            hdrStatic(0x00),
            // 192 kHz; channel status: PCM, 192 kHz, 24-bit; 8 channels, FL FR LFE FC RL RR RLC
            // RRC.
            audio(0x06, {0x04, 0x00, 0x00, 0x0E, 0x0B}, 0x07, 0x13),
        },
        {
            "spd-markup",
            "1080p50 with a source name that holds markup and non-ASCII bytes",
            {0x00, 0x00, kHdcp14, kDepth8, kPresent},
            avi(0x10, 0xA8, 0x08, 31),
            // Latin-1 bytes; the 16-byte description has no NUL.
            spd("<b>\xDC"
                "ber",
                "<i>Caf\xE9</i>&amp;", 0x01),
            {},
            audio(0x02, {0x04, 0x00, 0x00, 0x02, 0x02}, 0x01, 0x00),
        },
        {
            "no-input",
            "nothing on the HDMI input",
            {0x00, 0x00, 0x00, 0x00, 0x00},
            {},
            {},
            {},
            {},
        },
    };
    return all;
}

} // namespace

const Bytes* Scenario::block(std::uint8_t number) const {
    switch (number) {
    case 11:
        return &inputStatus;
    case 12:
        return &avi;
    case 13:
        return &sourceProduct;
    case 14:
        return &hdr;
    case 15:
        return &audio;
    default:
        return nullptr;
    }
}

std::span<const Scenario> scenarios() {
    return table();
}

const Scenario* findScenario(std::string_view name) {
    for (const auto& s : table()) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

const Scenario& noInput() {
    static const Scenario* none = findScenario("no-input");
    return *none;
}

} // namespace telmar::sim
