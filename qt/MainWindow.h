// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "link/Messages.h"
#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "protocol/Settings.h"
#include "panel/SettingsControls.h"
#include "usb/Driver.h"

#include <QtWidgets/QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QAbstractButton;
class QProgressBar;
class QTimerEvent;
class QCloseEvent;

namespace Ui {
class LumoraForm;
}

namespace telmar::panel {

class WindowDialogs;

// What the window talks to. main() passes the real driver, clock and boxes; tests
// pass doubles.
struct PanelServices {
    usb::Driver& driver;
    link::Clock& clock;
    link::MessageSink& linkMessages; // the link's warning boxes
    WindowDialogs& dialogs;          // the window's own boxes
    // Sees every status-bar message (text before translation, time-out) as well.
    protocol::StatusSink* statusTap = nullptr;
    // How File > Exit ends the process; empty means std::exit.
    std::function<void(int)> exitProcess;
};

// The control panel's one window: finds and opens the box at start-up, polls it
// every 3000 ms, and writes a setting when its control is clicked.
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr std::string_view kDeviceSerial = "2031";
    static constexpr int kPollPeriodMs = 3000;

    explicit MainWindow(PanelServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The three requests; each shows its own failure text in the status bar.
    bool writeRegister(std::uint8_t reg, std::uint8_t value);
    bool readBlock(std::uint8_t block, link::Reply& reply, std::uint8_t count);
    bool readSettings(link::Reply& reply, std::uint8_t count);

    void syncSettingsControls();
    void updateVideoStatus();

    void startPollTimer(int periodMs);
    void stopPollTimer();

    // Null once the window has been closed.
    Ui::LumoraForm* form() const { return ui.get(); }
    QProgressBar* progress() const { return progressBar; }
    const protocol::SettingsMirror& settingsMirror() const { return settingsMirror_; }
    int pollTimerId() const { return pollTimerId_; }
    bool pollTimerActive() const { return pollTimerActive_; }
    std::uint32_t deviceIndex() const { return deviceIndex_; }
    const link::PanelLink& link() const { return link_; }

  public slots:
    void on_ProgressChange(int a, int b);

  private slots:
    void FileExit();
    void FileAbout();
    void setLogoLed();
    void setAudioFrame();
    void setHdcpVersion();
    void setHpd();
    void setHtpc();
    void setGuiEnable();
    void setEdidMode();
    void setAudioMode();
    void setHdmiAudioMute();

  protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    class StatusBarSink final : public protocol::StatusSink {
      public:
        StatusBarSink(MainWindow& window, protocol::StatusSink* tap) : window_(window), tap_(tap) {}
        void showMessage(std::string_view text, int timeoutMs) override;

      private:
        MainWindow& window_;
        protocol::StatusSink* tap_;
    };

    void initHardware();
    void updateAudioStatus(const std::string& line);
    void setModeButtonsEnabled(bool enabled);
    void clearStatusLabels();
    // What both the close event and the destructor do, in this order.
    void releaseAndExit();
    // Writes one register; on acceptance records the value and shows the confirmation.
    bool applyWrite(const SettingWrite& write);

    PanelServices services_;
    link::PanelLink link_;
    StatusBarSink statusSink_;
    protocol::ControlProtocol protocol_;
    QProgressBar* progressBar = nullptr;
    std::unique_ptr<Ui::LumoraForm> ui;
    protocol::SettingsMirror settingsMirror_{};
    std::uint32_t deviceIndex_ = 0;
    int pollTimerId_ = 0;
    bool pollTimerActive_ = false;
};

} // namespace telmar::panel
