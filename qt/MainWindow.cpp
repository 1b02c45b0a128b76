// SPDX-License-Identifier: MIT
#include "qt/MainWindow.h"

#include "protocol/Frames.h"
#include "qt/Dialogs.h"
#include "status/StatusUpdate.h"
#include "ui_LumoraForm.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTimerEvent>
#include <QtGui/QCloseEvent>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QStatusBar>
#include <cstdlib>
#include <utility>

#ifndef TELMAR_VERSION
#define TELMAR_VERSION "unknown"
#endif

namespace telmar::panel {

using link::Reply;

namespace {

// Status lines are 8-bit text as the box sent it.
QString fromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Checks the first button and unchecks the second; setChecked emits no clicked(),
// so nothing is written back to the box.
void setPair(QAbstractButton* first, QAbstractButton* second, bool firstChecked) {
    first->setChecked(firstChecked);
    second->setChecked(!firstChecked);
}

void setMode(QAbstractButton* up, QAbstractButton* mid, QAbstractButton* dn,
             std::optional<ModeChoice> choice) {
    if (!choice) {
        return;
    }
    up->setChecked(*choice == ModeChoice::Up);
    mid->setChecked(*choice == ModeChoice::Mid);
    dn->setChecked(*choice == ModeChoice::Dn);
}

} // namespace

void MainWindow::StatusBarSink::showMessage(std::string_view text, int timeoutMs) {
    const std::string source(text);
    window_.statusBar()->showMessage(QCoreApplication::translate("MainWindow", source.c_str()),
                                     timeoutMs);
    if (tap_ != nullptr) {
        tap_->showMessage(text, timeoutMs);
    }
}

MainWindow::MainWindow(PanelServices services, QWidget* parent)
    : QMainWindow(parent), services_(std::move(services)),
      link_(services_.driver, services_.clock, services_.linkMessages),
      statusSink_(*this, services_.statusTap), protocol_(link_, statusSink_),
      ui(std::make_unique<Ui::LumoraForm>()) {
    ui->setupUi(this);
    progressBar = new QProgressBar(this);
    statusBar()->addPermanentWidget(progressBar);
    progressBar->hide();
    link_.resetDeviceHandle();
    initHardware();
}

MainWindow::~MainWindow() {
    releaseAndExit();
}

void MainWindow::releaseAndExit() {
    ui.reset();
    link_.closeDevice();
    stopPollTimer();
    QCoreApplication::exit(0);
}

// Blanked in the order the status panel lists them.
void MainWindow::clearStatusLabels() {
    for (QLabel* label : {ui->label_video_format, ui->lblHdcp, ui->lblColor, ui->lblVideoSource,
                          ui->lblHdr, ui->lblDeepC, ui->lblAudio}) {
        label->clear();
    }
}

void MainWindow::initHardware() {
    ui->labelTitle->setText(QStringLiteral("TELMAR GUI"));
    ui->labelFw->clear();
    ui->lblWarning->clear();
    setModeButtonsEnabled(false);
    clearStatusLabels();

    if (!link_.findDevice(std::string(kDeviceSerial), deviceIndex_)) {
        ui->lblWarning->setText(tr("CONNECT TELMAR AND RESTART GUI"));
        return;
    }
    if (!link_.openDevice(deviceIndex_)) {
        services_.dialogs.warning(this, tr("TELMAR GUI"), tr("Hardware not found"));
        return;
    }
    syncSettingsControls();
    Reply version{};
    if (readBlock(telmar::protocol::block::Version, version,
                  telmar::protocol::block_count::Version)) {
        ui->labelFw->setText(fromLatin1(telmar::status::versionText(version)));
    }
    startPollTimer(kPollPeriodMs);
    updateVideoStatus();
}

bool MainWindow::writeRegister(std::uint8_t reg, std::uint8_t value) {
    return protocol_.writeRegister(reg, value);
}

bool MainWindow::readBlock(std::uint8_t block, Reply& reply, std::uint8_t count) {
    return protocol_.readBlock(block, reply, count);
}

bool MainWindow::readSettings(Reply& reply, std::uint8_t count) {
    return protocol_.readSettings(reply, count);
}

void MainWindow::syncSettingsControls() {
    if (!ui) {
        return;
    }
    Reply reply{};
    if (!readSettings(reply, telmar::protocol::kSettingsReplyCount) ||
        reply[0] != telmar::protocol::kSettingsEcho) {
        return;
    }
    telmar::protocol::copySettingsBlock(reply, settingsMirror_);
    const ControlStates states = controlStatesFor(settingsMirror_);
    setPair(ui->rbEncFollow, ui->rbEnc14, states.encFollow);
    setPair(ui->rbLedEnable, ui->rbLedDisable, states.ledEnable);
    setPair(ui->rbFrame720, ui->rbFrame1080, states.frame720);
    setPair(ui->rbHtpcEnable, ui->rbHtpcDisable, states.htpcEnable);
    setPair(ui->rbHdmiAudioEnable, ui->rbHdmiAudioDisable, states.hdmiAudioEnable);
    ui->cbEnableGui->setChecked(states.guiOn);
    setModeButtonsEnabled(states.guiOn);
    setMode(ui->rbEdidUp, ui->rbEdidMid, ui->rbEdidDn, states.edid);
    setMode(ui->rbAudioUp, ui->rbAudioMid, ui->rbAudioDn, states.audio);
}

void MainWindow::updateVideoStatus() {
    if (!ui) {
        return;
    }
    const telmar::status::StatusUpdate update = telmar::status::readStatusUpdate(protocol_);
    using Video = telmar::status::StatusUpdate::Video;
    switch (update.video) {
    case Video::BlankAll:
        clearStatusLabels();
        return;
    case Video::Keep:
        break;
    case Video::Set:
        ui->label_video_format->setText(fromLatin1(update.lines.input));
        ui->lblHdcp->setText(fromLatin1(update.lines.encryption));
        ui->lblColor->setText(fromLatin1(update.lines.color));
        ui->lblVideoSource->setText(fromLatin1(update.lines.source));
        ui->lblHdr->setText(fromLatin1(update.lines.hdr));
        ui->lblDeepC->setText(fromLatin1(update.lines.deepColor));
        break;
    }
    updateAudioStatus(update.audio);
}

void MainWindow::updateAudioStatus(const std::string& line) {
    ui->lblAudio->setText(fromLatin1(line));
}

void MainWindow::setModeButtonsEnabled(bool enabled) {
    for (QAbstractButton* button : {ui->rbEdidUp, ui->rbEdidMid, ui->rbEdidDn, ui->rbAudioUp,
                                    ui->rbAudioMid, ui->rbAudioDn}) {
        button->setEnabled(enabled);
    }
}

bool MainWindow::applyWrite(const SettingWrite& write) {
    if (!writeRegister(static_cast<std::uint8_t>(write.reg), write.value)) {
        return false;
    }
    if (write.mirrorIndex) {
        settingsMirror_[*write.mirrorIndex] = write.value;
    }
    if (write.confirmation != nullptr) {
        statusSink_.showMessage(write.confirmation, kConfirmationMs);
    }
    return true;
}

void MainWindow::startPollTimer(int periodMs) {
    if (pollTimerActive_) {
        return;
    }
    pollTimerId_ = startTimer(periodMs);
    pollTimerActive_ = true;
}

void MainWindow::stopPollTimer() {
    if (!pollTimerActive_) {
        return;
    }
    pollTimerActive_ = false;
    killTimer(pollTimerId_);
}

void MainWindow::timerEvent(QTimerEvent* /*event*/) {
    // A tick delivered inside a message box that an exchange is showing must not
    // start a second exchange.
    if (link_.linkBusy()) {
        return;
    }
    syncSettingsControls();
    updateVideoStatus();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    releaseAndExit();
}

void MainWindow::FileExit() {
    link_.closeDevice();
    stopPollTimer();
    // The window is gone after the delete; keep what is needed afterwards.
    std::function<void(int)> exitProcess = services_.exitProcess;
    delete this;
    if (exitProcess) {
        exitProcess(0);
    } else {
        std::exit(0);
    }
}

void MainWindow::FileAbout() {
    services_.dialogs.about(
        this, tr("About LUMORA_GUI"),
        tr("LUMORA_GUI version %1\n\nControl panel for the TELMAR box: shows what arrives on "
           "its HDMI input and sets the box's options over USB.")
            .arg(QStringLiteral(TELMAR_VERSION)));
}

void MainWindow::on_ProgressChange(int a, int b) {
    const ProgressView view = progressView(a, b);
    if (!view.visible) {
        progressBar->hide();
        return;
    }
    progressBar->show();
    progressBar->setRange(0, view.maximum);
    progressBar->setValue(view.value);
}

void MainWindow::setLogoLed() {
    if (ui) {
        applyWrite(twoWayWrite(TwoWay::LogoLed, ui->rbLedEnable->isChecked()));
    }
}

void MainWindow::setAudioFrame() {
    if (ui) {
        applyWrite(twoWayWrite(TwoWay::AudioFrame, ui->rbFrame1080->isChecked()));
    }
}

void MainWindow::setHdcpVersion() {
    if (ui) {
        applyWrite(twoWayWrite(TwoWay::HdcpVersion, ui->rbEncFollow->isChecked()));
    }
}

void MainWindow::setHpd() {
    applyWrite(hpdWrite());
}

void MainWindow::setHtpc() {
    if (ui) {
        applyWrite(twoWayWrite(TwoWay::Htpc, ui->rbHtpcEnable->isChecked()));
    }
}

void MainWindow::setGuiEnable() {
    if (!ui) {
        return;
    }
    const bool on = ui->cbEnableGui->isChecked();
    if (applyWrite(guiEnableWrite(on))) {
        setModeButtonsEnabled(on);
    }
}

void MainWindow::setEdidMode() {
    if (!ui) {
        return;
    }
    if (const auto write = modeWrite(ModeGroup::Edid, ui->rbEdidUp->isChecked(),
                                     ui->rbEdidMid->isChecked(), ui->rbEdidDn->isChecked())) {
        applyWrite(*write);
    }
}

void MainWindow::setAudioMode() {
    if (!ui) {
        return;
    }
    if (const auto write = modeWrite(ModeGroup::Audio, ui->rbAudioUp->isChecked(),
                                     ui->rbAudioMid->isChecked(), ui->rbAudioDn->isChecked())) {
        applyWrite(*write);
    }
}

void MainWindow::setHdmiAudioMute() {
    if (ui) {
        applyWrite(twoWayWrite(TwoWay::HdmiAudioMute, ui->rbHdmiAudioEnable->isChecked()));
    }
}

} // namespace telmar::panel
