// SPDX-License-Identifier: MIT
#include "status/AudioStatus.h"

#include "protocol/StatusBlocks.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <span>

namespace telmar::status {

namespace {

using protocol::AudioStatusBlock;

std::string_view rateWord(std::uint8_t code) {
    static constexpr std::array<std::string_view, 8> kWords{"32kHz", "44.1kHz", "48kHz",  "88.2kHz",
                                                            "96kHz", "176kHz",  "192kHz", "768KHz"};
    return kWords[code & 0x07];
}

std::string_view sizeWord(std::uint8_t code) {
    switch (code) {
    case AudioStatusBlock::kWordLength18:
        return "18bit";
    case AudioStatusBlock::kWordLength20:
        return "20bit";
    case AudioStatusBlock::kWordLength24:
        return "24bit";
    default:
        return "16bit";
    }
}

// The speaker allocations (CA) recognised for a channel count (CC) from 2 to 7.
struct Layout {
    std::uint8_t count = 0;
    std::string_view word;
    std::array<std::uint8_t, 9> allocations{};
    std::size_t size = 0;
};

constexpr Layout layout(std::uint8_t count, std::string_view word,
                        std::initializer_list<std::uint8_t> allocations) {
    Layout l{count, word, {}, allocations.size()};
    std::ranges::copy(allocations, l.allocations.begin());
    return l;
}

constexpr std::array<Layout, 11> kLayouts{
    layout(2, "2.1ch", {0, 1}),
    layout(2, "3.0ch", {2, 4}),
    layout(3, "3.1ch", {0, 3, 5}),
    layout(3, "4.0ch", {6, 8, 20}),
    layout(4, "4.1ch", {0, 7, 9, 21}),
    layout(4, "5.0ch", {10, 12, 22, 24}),
    layout(5, "5.1ch", {0, 11, 13, 23, 25}),
    layout(5, "6.0ch", {14, 16, 26, 28, 32, 34, 36, 38}),
    layout(6, "6.1ch", {0, 15, 17, 27, 29, 33, 35, 37, 39}),
    layout(6, "7.0ch", {18, 30, 40, 42, 44, 46, 48}),
    layout(7, "7.1ch", {0, 19, 31, 41, 43, 45, 47, 49}),
};

constexpr std::string_view kUnknownLayout = "--ch";

// A CA the table does not list for the signalled count (the source contradicts itself,
// or the code is above 0x31) gets "--ch", the word already used when the layout is
// left to the stream: no layout is claimed that the source did not send.
std::string_view channelWord(std::uint8_t count, std::uint8_t allocation) {
    if (count == 0) {
        return kUnknownLayout;
    }
    if (count == 1) {
        return "2.0ch";
    }
    for (const Layout& l : kLayouts) {
        const auto used = std::span(l.allocations).first(l.size);
        if (l.count == count && std::ranges::find(used, allocation) != used.end()) {
            return l.word;
        }
    }
    return kUnknownLayout;
}

} // namespace

std::string composeAudioLine(const link::Reply& audioStatus) {
    const AudioStatusBlock audio(audioStatus);
    if (audio.notLinearPcm() || audio.highBitRate()) {
        return audio.highBitRate() ? "Audio: HBR bitstream" : "Audio: bitstream";
    }
    std::string line = "Audio: L-PCM ";
    line.append(rateWord(audio.rateCode()));
    line += ' ';
    line.append(channelWord(audio.channelCount(), audio.speakerAllocation()));
    line += ' ';
    line.append(sizeWord(audio.wordLengthCode()));
    return line;
}

} // namespace telmar::status
