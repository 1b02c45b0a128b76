// SPDX-License-Identifier: MIT
#include "tests/traces/TraceSessions.h"

#include "qt/Dialogs.h"
#include "qt/MainWindow.h"
#include "ui_LumoraForm.h"
#include "updater/FlashUpdate.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QThread>
#include <QtCore/QTimerEvent>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QLabel>
#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <utility>

namespace telmar::test {

namespace {

// What the user saw, a line each. A line the same as the one before it is kept
// once and marked: how often a box repeats inside a wait depends on timing.
class SeenLines {
  public:
    void add(const std::string& line) {
        std::lock_guard lock(mutex_);
        if (line == last_) {
            if (!repeated_) {
                text_.insert(text_.size() - 1, " (repeated)");
                repeated_ = true;
            }
            return;
        }
        last_ = line;
        repeated_ = false;
        text_ += line + "\n";
    }
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

  private:
    mutable std::mutex mutex_;
    std::string text_;
    std::string last_;
    bool repeated_ = false;
};

// Lets the window's worker finish what it was asked and the window show the results.
bool settle(const panel::MainWindow& window) {
    const QDeadlineTimer deadline(10000);
    while (!window.core().idle()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    QCoreApplication::processEvents();
    return true;
}

std::string inQuotes(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string inQuotes(const QString& text) {
    return inQuotes(text.toLatin1().toStdString());
}

class PanelSeen final : public panel::LinkBoxes,
                        public panel::WindowDialogs,
                        public protocol::StatusSink {
  public:
    // The user dismisses every link box at once.
    void show(const QString& text, const QString& caption,
              std::function<void()> dismissed) override {
        add("link box " + inQuotes(caption) + " " + inQuotes(text));
        dismissed();
    }
    void closeAll() override {}
    void warning(QWidget*, const QString& title, const QString& text) override {
        add("warning box " + inQuotes(title) + " " + inQuotes(text));
    }
    void about(QWidget*, const QString& title, const QString& text) override {
        add("about box " + inQuotes(title) + " " + inQuotes(text));
    }
    void showMessage(std::string_view text, int timeoutMs) override {
        add("status bar " + inQuotes(text) + " for " + std::to_string(timeoutMs) + " ms");
    }
    void add(const std::string& line) { lines.add(line); }
    SeenLines lines;
};

} // namespace

std::string runPanelSession(usb::Driver& driver, link::Clock& clock,
                            const std::function<PanelAction()>& next) {
    PanelSeen seen;
    auto* window =
        new panel::MainWindow(panel::PanelServices{driver, clock, seen, seen, &seen, [&](int code) {
                                                       seen.add("exit " + std::to_string(code));
                                                   }});
    // Polls come from the session, not from the real timer.
    if (!settle(*window)) {
        seen.add("-- still busy after 10 s");
    }
    const int pollTimer = window->pollTimerId();
    window->stopPollTimer();
    Ui::LumoraForm& form = *window->form();
    for (PanelAction action = next(); action.kind != PanelAction::Close; action = next()) {
        if (action.kind == PanelAction::Poll) {
            seen.add("-- poll");
            QTimerEvent tick(pollTimer);
            QCoreApplication::sendEvent(window, &tick);
            if (!settle(*window)) {
                seen.add("-- still busy after 10 s");
            }
            continue;
        }
        auto* button = window->findChild<QAbstractButton*>(action.widget);
        seen.add("-- click " + std::string(action.widget ? action.widget : "?") +
                 (button != nullptr && button->isEnabled() ? "" : " (not clickable)"));
        if (button == nullptr || !button->isEnabled()) {
            break;
        }
        button->click();
        if (!settle(*window)) {
            seen.add("-- still busy after 10 s");
        }
    }
    seen.add("-- close");
    for (QLabel* label :
         {form.labelFw, form.lblWarning, form.label_video_format, form.lblHdcp, form.lblColor,
          form.lblVideoSource, form.lblHdr, form.lblDeepC, form.lblAudio}) {
        seen.add(label->objectName().toStdString() + " " + inQuotes(label->text()));
    }
    std::string checked = "checked:";
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->isCheckable() && button->isChecked()) {
            checked += " " + button->objectName().toStdString() +
                       (button->isEnabled() ? "" : " (disabled)");
        }
    }
    seen.add(checked);
    window->close();
    delete window;
    return seen.lines.text();
}

PanelAction nextPanelAction(std::span<const backends::TraceEntry> remaining) {
    // Register and value -> the control whose click writes them.
    static const std::map<std::pair<int, int>, const char*> kClicks = {
        {{0, 1}, "rbLedEnable"},         {{0, 0}, "rbLedDisable"},   {{1, 1}, "rbFrame1080"},
        {{1, 0}, "rbFrame720"},          {{2, 0}, "rbEncFollow"},    {{2, 1}, "rbEnc14"},
        {{4, 1}, "cbEnableGui"},         {{4, 0}, "cbEnableGui"},    {{5, 3}, "rbEdidUp"},
        {{5, 1}, "rbEdidMid"},           {{5, 2}, "rbEdidDn"},       {{6, 3}, "rbAudioUp"},
        {{6, 1}, "rbAudioMid"},          {{6, 2}, "rbAudioDn"},      {{10, 1}, "pbHpd"},
        {{17, 1}, "rbHtpcEnable"},       {{17, 0}, "rbHtpcDisable"}, {{18, 1}, "rbHdmiAudioEnable"},
        {{18, 0}, "rbHdmiAudioDisable"},
    };
    for (const auto& e : remaining) {
        if (e.call == backends::DriverCall::Close) {
            return {PanelAction::Close};
        }
        if (e.call != backends::DriverCall::Write) {
            continue;
        }
        const auto& f = e.bytes;
        if (f.size() == 3 && f[0] == 0x11 && f[2] == 0xE1) {
            return {PanelAction::Poll};
        }
        if (f.size() == 5 && f[0] == 0x10 && f[1] == 0x04 && f[2] == 0xE0) {
            if (const auto it = kClicks.find({f[3], f[4]}); it != kClicks.end()) {
                return {PanelAction::Click, it->second};
            }
        }
        break; // a frame no user action explains: stop, and let the replay report it
    }
    return {PanelAction::Close};
}

namespace {

class UpdaterSeen final : public updater::UserInterface {
  public:
    void drawStatusLine(std::string_view text, int y) override {
        add("line " + std::to_string(y) + " " + inQuotes(text));
    }
    void showWarning(std::string_view text, std::string_view caption) override {
        add("box " + inQuotes(caption) + " " + inQuotes(text));
    }
    void endProcess(int exitCode) override { add("exit " + std::to_string(exitCode)); }
    void add(const std::string& line) { lines_.add(line); }
    std::string text() const { return lines_.text(); }

  private:
    SeenLines lines_;
};

} // namespace

std::string runUpdaterSession(usb::Driver& driver, link::Clock& clock,
                              const updater::Variant& variant) {
    UpdaterSeen seen;
    updater::FlashUpdate flash(variant, driver, clock, seen);
    using Outcome = updater::FlashUpdate::Outcome;
    const std::pair<Outcome, const char*> kOutcomes[] = {
        {Outcome::Refused, "-- refused"},     {Outcome::NoBox, "-- no box"},
        {Outcome::BoxInUse, "-- box in use"}, {Outcome::BoxFailed, "-- box failed"},
        {Outcome::Completed, "-- completed"}, {Outcome::Aborted, "-- aborted"},
    };
    const Outcome outcome = flash.FlashUpdateThread();
    seen.add(
        std::ranges::find(kOutcomes, outcome, &std::pair<Outcome, const char*>::first)->second);
    return seen.text();
}

const updater::Variant* updaterVariantFor(const std::string& program) {
    if (program == "Reflasher-FPGA1") {
        return &updater::fpga1::variant();
    }
    if (program == "Reflasher-FPGA2") {
        return &updater::fpga2::variant();
    }
    return nullptr;
}

} // namespace telmar::test
