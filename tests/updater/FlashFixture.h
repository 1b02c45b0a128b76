// SPDX-License-Identifier: MIT
#pragma once

#include "tests/support/ScriptedDriver.h"
#include "tests/updater/RecordingUi.h"
#include "updater/FlashUpdate.h"
#include "updater/Variant.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace telmar::test {

using Bytes = std::vector<std::uint8_t>;

enum class Frame { EnterIsp, SetBlockIndex, Packet, ExitIsp, ResetBox, Other };

// Tells the updater's frames apart by their bytes, written out here on purpose
// rather than taken from the code under test.
inline Frame kindOf(std::span<const std::uint8_t> f) {
    if (f.size() == 3 && f[0] == 0x11 && f[1] == 0x01 && f[2] == 0xDC) {
        return Frame::ResetBox;
    }
    if (f.size() == 21 && f[0] == 0x10 && f[1] == 0x15 && f[2] == 0x50 && f[3] == 0x41 &&
        f[4] == 0x10) {
        return Frame::Packet;
    }
    if (f.size() == 5 && f[0] == 0x10 && f[1] == 0x05) {
        if (f[3] == 0x0F && f[4] == 0x40) {
            return Frame::EnterIsp;
        }
        if (f[2] == 0x50 && f[3] == 0x01) {
            return Frame::SetBlockIndex;
        }
        if (f[2] == 0x50 && f[3] == 0x02 && f[4] == 0x00) {
            return Frame::ExitIsp;
        }
    }
    return Frame::Other;
}

// How the box answers one frame; `index` counts every frame written, from 0.
using BoxBehaviour = std::function<std::optional<ScriptedReply>(
    Frame, std::span<const std::uint8_t>, std::uint32_t)>;

// A box that accepts everything (reply byte 0 is never looked at; it echoes byte 2).
inline std::optional<ScriptedReply> acceptingBox(Frame kind, std::span<const std::uint8_t> f,
                                                 std::uint32_t) {
    if (kind == Frame::ResetBox) {
        return ScriptedReply{{0x00}};
    }
    return ScriptedReply{{f.size() > 2 ? f[2] : std::uint8_t{0}, 0x01}};
}

inline std::optional<ScriptedReply> refusing() {
    return ScriptedReply{{0x50, 0x00}};
}

// One updater run against a scripted box and a virtual clock.
class FlashRun {
  public:
    explicit FlashRun(const updater::Variant& variant, bool boxAttached = true,
                      updater::Safeguards safeguards = {})
        : flash(variant, driver, clock, ui, safeguards) {
        if (boxAttached) {
            driver.addDevice("2031");
        }
        // A scripted box is no hardware: the default builds' placeholder images may go to it.
        driver.setSimulatedBox(true);
        driver.setResponder([this](std::span<const std::uint8_t> f) {
            const std::uint32_t index = frames++;
            return box(kindOf(f), f, index);
        });
        ui.setWritingProbe([this] { return flash.writing(); });
    }

    std::vector<std::string> lineTexts() const {
        std::vector<std::string> texts;
        for (const auto& e : ui.of(UiEvent::Line)) {
            texts.push_back(e.text);
        }
        return texts;
    }

    std::vector<Frame> frameKinds() const {
        std::vector<Frame> kinds;
        for (const auto& f : driver.writtenFrames()) {
            kinds.push_back(kindOf(f));
        }
        return kinds;
    }

    link::VirtualClock clock;
    ScriptedDriver driver{clock};
    std::atomic<std::uint32_t> frames{0};
    RecordingUi ui{clock, frames};
    BoxBehaviour box = acceptingBox;
    updater::FlashUpdate flash;
};

inline std::string padded(std::string_view text, std::size_t blanks) {
    return std::string(text) + std::string(blanks, ' ');
}

} // namespace telmar::test
