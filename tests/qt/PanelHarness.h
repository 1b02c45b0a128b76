// SPDX-License-Identifier: MIT
#pragma once

#include "link/Messages.h"
#include "qt/Dialogs.h"
#include "qt/MainWindow.h"
#include "tests/support/FakeBox.h"
#include "tests/support/RecordingStatusSink.h"
#include "tests/support/ScriptedDriver.h"
#include "tests/support/VirtualClock.h"
#include "ui_LumoraForm.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtTest/QTest>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace telmar::test {

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

// The window, once its start-up sequence has run on the worker and been applied.
inline std::unique_ptr<panel::MainWindow> start(Panel& panel) {
    auto window = std::make_unique<panel::MainWindow>(panel.services());
    settle(*window);
    return window;
}

// One poll tick, as the timer delivers it.
inline void tickNow(panel::MainWindow& window) {
    QTimerEvent event(window.pollTimerId());
    QCoreApplication::sendEvent(&window, &event);
}

// The seven status lines, top to bottom.
inline QStringList statusTexts(Ui::LumoraForm* f) {
    return {f->label_video_format->text(),
            f->lblHdcp->text(),
            f->lblColor->text(),
            f->lblVideoSource->text(),
            f->lblHdr->text(),
            f->lblDeepC->text(),
            f->lblAudio->text()};
}

// One poll tick, and what it does.
inline void tick(panel::MainWindow& window) {
    tickNow(window);
    settle(window);
}

} // namespace telmar::test
