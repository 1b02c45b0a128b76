// SPDX-License-Identifier: MIT
#pragma once

#include "tests/support/ScriptedDriver.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace telmar::test {

// A box behind the scripted driver: answers the control panel's three requests
// from its settings, version and status blocks, and applies accepted writes.
struct FakeBox {
    std::array<std::uint8_t, 20> settings{};
    std::array<std::uint8_t, 6> version{1, 0, 2, 3, 0, 5};
    std::map<std::uint8_t, std::vector<std::uint8_t>> blocks; // contents from reply offset 2
    bool refuseWrites = false; // answer register writes with E1, which the panel rejects
    bool silent = false;       // answer nothing at all

    // Runs first for every frame, on the thread that writes it (a test may hold it there).
    std::function<void(std::span<const std::uint8_t>)> onFrame;

    std::optional<ScriptedReply> respond(std::span<const std::uint8_t> frame) {
        if (onFrame) {
            onFrame(frame);
        }
        if (silent) {
            return std::nullopt;
        }
        if (frame.size() == 5 && frame[0] == 0x10) {
            if (refuseWrites) {
                return ScriptedReply{{0xE1, 0x00}};
            }
            apply(frame[3], frame[4]);
            return ScriptedReply{{0xE0, 0x00}};
        }
        if (frame.size() == 3 && frame[0] == 0x11 && frame[2] == 0xE1) {
            std::vector<std::uint8_t> reply{0xE1, 0x00};
            reply.insert(reply.end(), settings.begin(), settings.end());
            reply.resize(frame[1]);
            return ScriptedReply{reply};
        }
        if (frame.size() == 4 && frame[0] == 0x11 && frame[2] == 0xE0) {
            std::vector<std::uint8_t> reply{0xE0, 0x00};
            if (frame[3] == 9) {
                reply.insert(reply.end(), version.begin(), version.end());
            } else if (auto it = blocks.find(frame[3]); it != blocks.end()) {
                reply.insert(reply.end(), it->second.begin(), it->second.end());
            }
            reply.resize(frame[1]);
            return ScriptedReply{reply};
        }
        return std::nullopt;
    }

    void apply(std::uint8_t reg, std::uint8_t value) {
        static const std::map<std::uint8_t, std::size_t> byteOf{{0, 0}, {1, 1}, {2, 2},   {4, 4},
                                                                {5, 5}, {6, 6}, {17, 10}, {18, 11}};
        if (auto it = byteOf.find(reg); it != byteOf.end()) {
            settings[it->second] = value;
        }
    }

    // An HDCP 2.2 protected 3840x2160p60 HDR10 input with 24-bit stereo PCM.
    void useUhdHdrInput(std::string vendor = "Tellux", std::string product = "Media Player") {
        blocks[11] = {0x20, 0x07, 0x04, 0x05, 0xC0};
        blocks[12] = {0x00, 0x00, 0x60, 0xC0, 0x60, 97};
        std::vector<std::uint8_t> spd{0x83, 0x01, 0x19, 0x00};
        vendor.resize(8, '\0');
        product.resize(16, '\0');
        spd.insert(spd.end(), vendor.begin(), vendor.end());
        spd.insert(spd.end(), product.begin(), product.end());
        blocks[13] = spd;
        blocks[14] = {0x87, 0x01, 0x1A, 0x00, 0x02};
        blocks[15] = {0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x01};
    }
};

} // namespace telmar::test
