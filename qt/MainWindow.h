// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "panel/PanelCore.h"
#include "protocol/ControlProtocol.h"
#include "usb/Driver.h"

#include <QtWidgets/QMainWindow>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QTimer;
class QTimerEvent;
class QCloseEvent;

namespace Ui {
class LumoraForm;
}

namespace telmar::panel {

class LinkBoxes;
class SignalDetailsPanel;
class WindowDialogs;

// What the window talks to. main() passes the real driver, clock and boxes; tests
// pass doubles.
struct PanelServices {
    usb::Driver& driver;
    link::Clock& clock;
    LinkBoxes& linkBoxes;   // the link's warning boxes
    WindowDialogs& dialogs; // the window's own boxes
    // Sees every status-bar message (text before translation, time-out) as well.
    protocol::StatusSink* statusTap = nullptr;
    // How File > Exit ends the process; empty means std::exit.
    std::function<void(int)> exitProcess;
};

// The control panel's one window: the Qt shell of PanelCore. It only posts clicks and
// ticks to the core and shows what the core hands back; the box is never waited for on
// this thread.
class MainWindow : public QMainWindow, private PanelView {
    Q_OBJECT

  public:
    explicit MainWindow(PanelServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    void startPollTimer(int periodMs);
    void stopPollTimer();

    // Null once the window has been closed.
    Ui::LumoraForm* form() const { return ui.get(); }
    QProgressBar* progress() const { return progressBar; }
    const protocol::SettingsMirror& settingsMirror() const { return core_.settingsMirror(); }
    int pollTimerId() const { return pollTimerId_; }
    bool pollTimerActive() const { return pollTimerActive_; }
    bool searching() const;
    const link::PanelLink& link() const { return core_.link(); }
    const PanelCore& core() const { return core_; }
    SignalDetailsPanel& signalDetails() { return *details_; }

  public slots:
    void on_ProgressChange(int a, int b);

  private slots:
    void FileExit();
    void FileAbout();
    void setLogoLed() { writeTwoWay(TwoWay::LogoLed); }
    void setAudioFrame() { writeTwoWay(TwoWay::AudioFrame); }
    void setHdcpVersion() { writeTwoWay(TwoWay::HdcpVersion); }
    void setHpd() { write(hpdWrite()); }
    void setHtpc() { writeTwoWay(TwoWay::Htpc); }
    void setGuiEnable();
    void setEdidMode() { writeMode(ModeGroup::Edid); }
    void setAudioMode() { writeMode(ModeGroup::Audio); }
    void setHdmiAudioMute() { writeTwoWay(TwoWay::HdmiAudioMute); }

  protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // PanelView
    void showWarning(std::string_view text) override;
    void showVersion(std::string_view text) override;
    void showStatus(const status::StatusLines& lines) override;
    void showSignal(const status::StatusUpdate& update) override;
    void showStatusMessage(std::string_view text, int timeoutMs) override;
    void setTwoWay(TwoWay setting, bool firstChecked) override;
    void setGuiControl(bool on) override;
    void setMode(ModeGroup group, ModeChoice choice) override;
    void setModeButtonsEnabled(bool enabled) override;
    void setControlsEnabled(bool enabled) override;
    void clearSettingsControls() override;
    void setPolling(bool on) override;
    void setSearching(bool on) override;
    void showLinkBox(std::string_view text, std::string_view caption) override;
    void closeLinkBox() override;
    void showOpenFailed() override;
    void closeOpenFailed() override;

    void nameControls();
    // The keyboard order of each page, the menus' mnemonics and the status bar's text.
    void makeKeyboardAndReaderFriendly();
    // Sets a readout label's text and the name a screen reader reads for it.
    void showReadout(QLabel* label, const QString& text);
    // View > Signal Details; not a slot, so the form's slot table stays as it is.
    void viewSignalDetails();
    // What both the close event and the destructor do, in this order.
    void releaseAndExit();
    void write(const SettingWrite& write);
    // What a click on one of the pair or of the group writes, from the buttons' states.
    void writeTwoWay(TwoWay setting);
    void writeMode(ModeGroup group);

    PanelServices services_;
    PanelCore core_;
    // Before the core's first status update, which it feeds.
    std::unique_ptr<SignalDetailsPanel> details_;
    QProgressBar* progressBar = nullptr;
    QTimer* searchTimer_ = nullptr;
    std::unique_ptr<Ui::LumoraForm> ui;
    int pollTimerId_ = 0;
    bool pollTimerActive_ = false;
};

} // namespace telmar::panel
