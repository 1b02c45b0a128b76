// SPDX-License-Identifier: MIT
#include "sim/InfoFrames.h"

#include <algorithm>
#include <cmath>

namespace telmar::sim {

namespace {

std::uint8_t u8(unsigned v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}

void putLe16(Bytes& out, std::uint16_t v) {
    out.push_back(u8(v));
    out.push_back(u8(v >> 8U));
}

// Chromaticity in units of 0.00002.
std::uint16_t chromaticity(double v) {
    return static_cast<std::uint16_t>(std::lround(std::clamp(v, 0.0, 1.0) * 50000.0));
}

void putText(Bytes& out, std::string_view s, std::size_t width) {
    const auto used = std::min(s.size(), width);
    out.insert(out.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(used));
    out.insert(out.end(), width - used, 0);
}

struct RateCodes {
    std::uint8_t channelStatus; // byte 3 bits 3-0
    std::uint8_t original;      // byte 4 bits 7-4, 0 = not indicated
};

// By SampleRate, in its order.
constexpr RateCodes kRateCodes[] = {{0x3, 0xC}, {0x0, 0xF}, {0x2, 0xD}, {0x8, 0x7},
                                    {0xA, 0x5}, {0xC, 0x3}, {0xE, 0x1}, {0x9, 0x0}};

} // namespace

Bytes infoFrame(std::uint8_t type, std::uint8_t version, std::span<const std::uint8_t> payload) {
    const auto length = u8(static_cast<unsigned>(payload.size()));
    unsigned sum = 0U + type + version + length;
    for (auto b : payload) {
        sum += b;
    }
    // Sized once: GCC 12 sees a false overflow in inserting after a braced header.
    Bytes frame(4 + payload.size());
    frame[0] = type;
    frame[1] = version;
    frame[2] = length;
    frame[3] = u8(0x100U - (sum & 0xFFU));
    std::ranges::copy(payload, frame.begin() + 4);
    return frame;
}

std::array<std::uint8_t, 13> aviPayload(const Avi& avi) {
    const bool horizontalBars = avi.bars.topEnd != 0 || avi.bars.bottomStart != 0;
    const bool verticalBars = avi.bars.leftEnd != 0 || avi.bars.rightStart != 0;
    const unsigned barInfo = (horizontalBars ? 2U : 0U) | (verticalBars ? 1U : 0U);
    // An RGB source states its range in YQ as well, so a sink that reads only YQ agrees.
    const bool yccFull = avi.colourFormat == kRgb ? avi.rgbRange == kRangeFull : avi.yccFullRange;

    std::array<std::uint8_t, 13> pb{};
    pb[0] = u8((avi.colourFormat & 0x3U) << 5U | (avi.activeFormat ? 0x10U : 0U) | barInfo << 2U |
               (avi.scan & 0x3U));
    pb[1] = u8((avi.colorimetry & 0x3U) << 6U | (avi.pictureAspect & 0x3U) << 4U |
               (avi.activeFormat.value_or(0) & 0xFU));
    pb[2] = u8((avi.itContent ? 0x80U : 0U) | (avi.extendedColorimetry & 0x7U) << 4U |
               (avi.rgbRange & 0x3U) << 2U);
    pb[3] = avi.vic;
    pb[4] = u8((yccFull ? 0x40U : 0U) | (avi.itContent.value_or(0) & 0x3U) << 4U);
    const std::uint16_t bars[] = {avi.bars.topEnd, avi.bars.bottomStart, avi.bars.leftEnd,
                                  avi.bars.rightStart};
    for (std::size_t i = 0; i < 4; ++i) {
        pb[5 + 2 * i] = u8(bars[i]);
        pb[6 + 2 * i] = u8(bars[i] >> 8U);
    }
    return pb;
}

Bytes spdInfoFrame(std::string_view vendor, std::string_view product, std::uint8_t sourceDevice) {
    Bytes payload;
    putText(payload, vendor, 8);
    putText(payload, product, 16);
    payload.push_back(sourceDevice);
    return infoFrame(0x83, 0x01, payload);
}

Bytes drmInfoFrame(const Mastering& m) {
    Bytes payload{u8(m.eotf & 0x7U), 0x00};
    for (const Xy& p : m.primaries) {
        putLe16(payload, chromaticity(p.x));
        putLe16(payload, chromaticity(p.y));
    }
    putLe16(payload, chromaticity(m.white.x));
    putLe16(payload, chromaticity(m.white.y));
    putLe16(payload, m.maxLuminance);
    putLe16(payload, m.minLuminance);
    putLe16(payload, m.maxCll);
    putLe16(payload, m.maxFall);
    return infoFrame(0x87, 0x01, payload);
}

std::array<std::uint8_t, 5> channelStatusBytes(const ChannelStatus& cs) {
    const RateCodes codes = kRateCodes[static_cast<std::size_t>(cs.rate)];
    const unsigned original = cs.linearPcm ? codes.original : 0U;
    return {u8(0x04U | (cs.linearPcm ? 0U : 0x02U)), cs.category, 0x00, codes.channelStatus,
            u8(original << 4U | (cs.wordLength & 0xFU))};
}

std::array<std::uint8_t, 4> audioInfoPayload(unsigned channels, std::uint8_t allocation) {
    return {u8(channels >= 2 ? (channels - 1) & 0x7U : 0U), 0x00, 0x00, allocation};
}

} // namespace telmar::sim
