// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "link/Messages.h"
#include "qt/Dialogs.h"
#include "qt/MainWindow.h"
#include "tests/support/RecordingStatusSink.h"
#include "tests/support/ScriptedDriver.h"

#include <QtCore/QString>
#include <QtTest/QTest>
#include <algorithm>
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

    std::optional<ScriptedReply> respond(std::span<const std::uint8_t> frame) {
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

// Records every box the panel would show, in order. Link boxes are dismissed at once
// unless `holdLinkBoxes` is set; held ones wait in `openLinkBoxes`.
class Recorder final : public panel::LinkBoxes, public panel::WindowDialogs {
  public:
    struct Box {
        QString kind; // "link", "warning" or "about"
        QString title;
        QString text;
        QWidget* parent;
    };

    void show(const QString& text, const QString& caption,
              std::function<void()> dismissed) override {
        boxes.push_back({"link", caption, text, nullptr});
        if (onLinkWarning) {
            onLinkWarning();
        }
        if (holdLinkBoxes) {
            openLinkBoxes.push_back(std::move(dismissed));
            maxOpenLinkBoxes = std::max(maxOpenLinkBoxes, openLinkBoxes.size());
        } else {
            dismissed();
        }
    }
    void closeAll() override {
        auto open = std::move(openLinkBoxes);
        openLinkBoxes.clear();
        for (auto& dismissed : open) {
            dismissed();
        }
    }
    // The user dismisses the oldest open link box.
    void dismissOne() {
        if (!openLinkBoxes.empty()) {
            auto dismissed = std::move(openLinkBoxes.front());
            openLinkBoxes.erase(openLinkBoxes.begin());
            dismissed();
        }
    }
    void warning(QWidget* parent, const QString& title, const QString& text) override {
        boxes.push_back({"warning", title, text, parent});
    }
    void about(QWidget* parent, const QString& title, const QString& text) override {
        boxes.push_back({"about", title, text, parent});
    }
    std::vector<Box> boxes;
    // Runs while a link box is "open".
    std::function<void()> onLinkWarning;
    bool holdLinkBoxes = false;
    std::vector<std::function<void()>> openLinkBoxes;
    std::size_t maxOpenLinkBoxes = 0;
};

// Driver, clock, box and recorders for one window.
struct Panel {
    link::VirtualClock clock;
    ScriptedDriver driver{clock};
    FakeBox box;
    Recorder recorder;
    RecordingStatusSink status; // every status-bar message
    std::vector<int> exitCodes;

    explicit Panel(bool attached = true) {
        if (attached) {
            driver.addDevice("2031");
        }
        driver.setResponder(
            [this](std::span<const std::uint8_t> frame) { return box.respond(frame); });
    }

    panel::PanelServices services() {
        return panel::PanelServices{driver,   clock,
                                    recorder, recorder,
                                    &status,  [this](int code) { exitCodes.push_back(code); }};
    }

    int callCount(Call call) const {
        int n = 0;
        for (const auto& c : driver.calls()) {
            n += c.call == call ? 1 : 0;
        }
        return n;
    }
};

// Lets the window's worker finish what it was asked and the window apply the results.
inline bool settle(const panel::MainWindow& window, int timeoutMs = 5000) {
    return QTest::qWaitFor([&] { return window.core().idle(); }, timeoutMs);
}

} // namespace telmar::test
