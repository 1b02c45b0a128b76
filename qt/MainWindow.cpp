// SPDX-License-Identifier: MIT
#include "qt/MainWindow.h"

#include "panel/ControlNames.h"
#include "qt/Dialogs.h"
#include "qt/FormTr.h"
#include "qt/SignalDetailsWindow.h"
#include "ui_LumoraForm.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtCore/QTimerEvent>
#include <QtGui/QAction>
#include <QtGui/QCloseEvent>
#include <QtWidgets/QButtonGroup>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTabBar>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>

#ifndef TELMAR_VERSION
#define TELMAR_VERSION "unknown"
#endif

namespace telmar::panel {

namespace {

using Form = Ui::LumoraForm;
using Button = QRadioButton* Form::*;

// The buttons of each pair on the CONTROL page, and the one whose check state a click
// writes; in the order of TwoWay.
struct TwoWayButtons {
    TwoWay setting;
    Button first;
    Button second;
    Button consulted;
};
constexpr TwoWayButtons kPairButtons[] = {
    {TwoWay::LogoLed, &Form::rbLedEnable, &Form::rbLedDisable, &Form::rbLedEnable},
    {TwoWay::AudioFrame, &Form::rbFrame720, &Form::rbFrame1080, &Form::rbFrame1080},
    {TwoWay::HdcpVersion, &Form::rbEncFollow, &Form::rbEnc14, &Form::rbEncFollow},
    {TwoWay::Htpc, &Form::rbHtpcEnable, &Form::rbHtpcDisable, &Form::rbHtpcEnable},
    {TwoWay::HdmiAudioMute, &Form::rbHdmiAudioEnable, &Form::rbHdmiAudioDisable,
     &Form::rbHdmiAudioEnable},
};

static_assert(std::ranges::all_of(kTwoWays, [](TwoWay setting) {
    return kPairButtons[static_cast<std::size_t>(setting)].setting == setting;
}));

const TwoWayButtons& twoWayButtons(TwoWay setting) {
    return kPairButtons[static_cast<std::size_t>(setting)];
}

// The three buttons of each group on the EDID/AUDIO page, in ModeGroup's and
// ModeChoice's order.
constexpr std::array<Button, 3> kModeButtons[] = {
    {&Form::rbEdidUp, &Form::rbEdidMid, &Form::rbEdidDn},
    {&Form::rbAudioUp, &Form::rbAudioMid, &Form::rbAudioDn},
};

} // namespace

MainWindow::MainWindow(PanelServices services, QWidget* parent)
    : QMainWindow(parent), services_(std::move(services)),
      core_(services_.driver, services_.clock, *this,
            [this] {
                // From the worker: run deliver() on this window's thread. A call still queued
                // when the window goes is dropped by Qt.
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        if (ui) {
                            core_.deliver();
                        }
                    },
                    Qt::QueuedConnection);
            }),
      details_(std::make_unique<SignalDetailsPanel>(
          DetailsServices{services_.clock, services_.dialogs})),
      ui(std::make_unique<Ui::LumoraForm>()) {
    ui->setupUi(this);
    // The widgets stand at fixed places: a smaller window would cut them off.
    setMinimumSize(size());
    // In code, not in the form: the form is the fixed 350x400 window both shells share.
    auto* viewMenu = new QMenu(tr("&View"), this);
    viewMenu->setObjectName(QStringLiteral("menuView"));
    QAction* details = viewMenu->addAction(tr("Signal &Details"));
    details->setObjectName(QStringLiteral("actionSignalDetails"));
    details->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    connect(details, &QAction::triggered, this, [this] { viewSignalDetails(); });
    menuBar()->insertMenu(ui->menuHelp->menuAction(), viewMenu);
    progressBar = new QProgressBar(this);
    statusBar()->addPermanentWidget(progressBar);
    progressBar->hide();
    searchTimer_ = new QTimer(this);
    searchTimer_->setObjectName(QStringLiteral("searchTimer"));
    searchTimer_->setInterval(kSearchPeriodMs);
    connect(searchTimer_, &QTimer::timeout, this, [this] { core_.searchTick(); });
    nameControls();
    makeKeyboardAndReaderFriendly();
    ui->labelTitle->setText(QStringLiteral("TELMAR GUI"));
    core_.start();
}

MainWindow::~MainWindow() {
    releaseAndExit();
}

void MainWindow::releaseAndExit() {
    // The core goes first: it closes the open link box, abandons the exchange in flight
    // and closes the device, so nothing reaches the form once it is released.
    core_.shutdown();
    details_->close();
    ui.reset();
    stopPollTimer();
    searchTimer_->stop();
    QCoreApplication::exit(0);
}

void MainWindow::nameControls() {
    for (const ControlName& name : controlNames()) {
        auto* widget = findChild<QWidget*>(QLatin1String(name.objectName));
        if (widget == nullptr) {
            continue;
        }
        widget->setAccessibleName(translated("MainWindow", name.accessibleName));
        if (name.captionLabel != nullptr) {
            if (auto* label = findChild<QLabel*>(QLatin1String(name.captionLabel))) {
                label->setBuddy(widget);
            }
        }
    }
}

void MainWindow::showReadout(QLabel* label, const QString& text) {
    label->setText(text);
    // setAccessibleName sends the NameChanged event a listening screen reader needs; only
    // on a change, or every poll would announce all seven lines again.
    const QString name = text.isEmpty() ? label->accessibleDescription() : text;
    if (label->accessibleName() != name) {
        label->setAccessibleName(name);
    }
}

void MainWindow::makeKeyboardAndReaderFriendly() {
    for (const Readout& readout : readouts()) {
        if (auto* label = findChild<QLabel*>(QLatin1String(readout.objectName))) {
            label->setAccessibleDescription(translated("MainWindow", readout.description));
            showReadout(label, label->text());
        }
    }
    QStatusBar* bar = statusBar();
    bar->setAccessibleDescription(tr("Status bar"));
    bar->setAccessibleName(bar->accessibleDescription());
    connect(bar, &QStatusBar::messageChanged, bar, [bar](const QString& message) {
        bar->setAccessibleName(message.isEmpty() ? bar->accessibleDescription() : message);
    });
    ui->tabWidget->tabBar()->setAccessibleName(tr("Pages"));

    // The form's own order follows neither page's rows; Tab goes row by row, left to right.
    for (QWidget* page : {ui->tab, ui->tab_2}) {
        QList<QWidget*> stops;
        for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            // Not by Tab policy: an exclusive group takes it from its unchecked buttons.
            if (child->focusPolicy() != Qt::NoFocus) {
                stops.append(child);
            }
        }
        std::stable_sort(stops.begin(), stops.end(), [](const QWidget* a, const QWidget* b) {
            const QPoint pa = a->geometry().topLeft();
            const QPoint pb = b->geometry().topLeft();
            return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
        });
        for (qsizetype i = 1; i < stops.size(); ++i) {
            QWidget::setTabOrder(stops[i - 1], stops[i]);
        }
    }

    // Only the mnemonic marker is added; the texts stay as the form has them. A menu's
    // title is the text of its action in the menu bar.
    for (QAction* action : {ui->menuFile->menuAction(), ui->menuHelp->menuAction(), ui->actionExit,
                            ui->actionAbout}) {
        action->setText(QLatin1Char('&') + action->text());
    }
}

bool MainWindow::searching() const {
    return searchTimer_->isActive();
}

void MainWindow::showWarning(std::string_view text) {
    showReadout(ui->lblWarning, text.empty() ? QString() : translated("MainWindow", text));
}

void MainWindow::showVersion(std::string_view text) {
    showReadout(ui->labelFw, latin1(text));
}

void MainWindow::showStatus(const status::StatusLines& lines) {
    for (std::size_t i = 0; i < kStatusLabels.size(); ++i) {
        showReadout(findChild<QLabel*>(QLatin1String(kStatusLabels[i])), latin1(lines.text[i]));
    }
}

void MainWindow::showSignal(const status::StatusUpdate& update) {
    details_->take(update, core_.connection());
}

void MainWindow::showStatusMessage(std::string_view text, int timeoutMs) {
    statusBar()->showMessage(translated("MainWindow", text), timeoutMs);
    if (services_.statusTap != nullptr) {
        services_.statusTap->showMessage(text, timeoutMs);
    }
}

// Checks the first button and unchecks the second; setChecked emits no clicked(),
// so nothing is written back to the box.
void MainWindow::setTwoWay(TwoWay setting, bool firstChecked) {
    const TwoWayButtons& pair = twoWayButtons(setting);
    (ui.get()->*pair.first)->setChecked(firstChecked);
    (ui.get()->*pair.second)->setChecked(!firstChecked);
}

void MainWindow::setGuiControl(bool on) {
    ui->cbEnableGui->setChecked(on);
}

void MainWindow::setMode(ModeGroup group, ModeChoice choice) {
    const std::array<Button, 3>& buttons = kModeButtons[static_cast<std::size_t>(group)];
    for (std::size_t k = 0; k < buttons.size(); ++k) {
        (ui.get()->*buttons[k])->setChecked(static_cast<std::size_t>(choice) == k);
    }
}

void MainWindow::setModeButtonsEnabled(bool enabled) {
    for (const std::array<Button, 3>& group : kModeButtons) {
        for (const Button button : group) {
            (ui.get()->*button)->setEnabled(enabled);
        }
    }
}

void MainWindow::setControlsEnabled(bool enabled) {
    ui->cbEnableGui->setEnabled(enabled);
    ui->tab_2->setEnabled(enabled);
}

void MainWindow::clearSettingsControls() {
    // An exclusive group keeps one button checked; it lets go only while not exclusive.
    for (QRadioButton* button : ui->centralwidget->findChildren<QRadioButton*>()) {
        QButtonGroup* group = button->group();
        const bool groupExclusive = group != nullptr && group->exclusive();
        const bool autoExclusive = button->autoExclusive();
        if (group != nullptr) {
            group->setExclusive(false);
        }
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(autoExclusive);
        if (group != nullptr) {
            group->setExclusive(groupExclusive);
        }
    }
    ui->cbEnableGui->setChecked(false);
}

void MainWindow::setPolling(bool on) {
    if (on) {
        startPollTimer(kPollPeriodMs);
    } else {
        stopPollTimer();
    }
}

void MainWindow::setSearching(bool on) {
    if (on) {
        searchTimer_->start();
    } else {
        searchTimer_->stop();
    }
}

void MainWindow::showLinkBox(std::string_view text, std::string_view caption) {
    services_.linkBoxes.show(latin1(text), latin1(caption), [window = QPointer<MainWindow>(this)] {
        if (window) {
            window->core_.linkBoxDismissed();
        }
    });
}

void MainWindow::closeLinkBox() {
    services_.linkBoxes.closeAll();
}

void MainWindow::showOpenFailed() {
    services_.dialogs.warning(this, tr("TELMAR GUI"), tr("Hardware not found"));
}

void MainWindow::closeOpenFailed() {
    for (QMessageBox* box : findChildren<QMessageBox*>()) {
        if (box->text() == tr("Hardware not found")) {
            box->close();
        }
    }
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
    // The core drops the tick while the box is still busy or a link box is open.
    if (ui) {
        core_.pollTick();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    releaseAndExit();
}

void MainWindow::FileExit() {
    core_.shutdown();
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

void MainWindow::viewSignalDetails() {
    if (ui) {
        details_->open();
    }
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

void MainWindow::write(const SettingWrite& write) {
    if (ui) {
        core_.write(write);
    }
}

void MainWindow::writeTwoWay(TwoWay setting) {
    if (ui) {
        write(twoWayWrite(setting, (ui.get()->*twoWayButtons(setting).consulted)->isChecked()));
    }
}

void MainWindow::writeMode(ModeGroup group) {
    if (!ui) {
        return;
    }
    const auto& [up, mid, dn] = kModeButtons[static_cast<std::size_t>(group)];
    if (const auto w = modeWrite(group, (ui.get()->*up)->isChecked(), (ui.get()->*mid)->isChecked(),
                                 (ui.get()->*dn)->isChecked())) {
        write(*w);
    }
}

void MainWindow::setGuiEnable() {
    if (ui) {
        write(guiEnableWrite(ui->cbEnableGui->isChecked()));
    }
}

} // namespace telmar::panel
