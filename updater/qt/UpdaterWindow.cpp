// SPDX-License-Identifier: MIT
#include "updater/qt/UpdaterWindow.h"

#include "updater/Texts.h"
#include "updater/qt/LineCanvas.h"

#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QShortcut>
#include <QThread>

namespace telmar::updater {

namespace {

QPixmap iconPixmap(std::span<const std::uint8_t> icoFile) {
    QPixmap pixmap;
    pixmap.loadFromData(icoFile.data(), static_cast<uint>(icoFile.size()), "ICO");
    return pixmap;
}

// Lines the window draws itself go straight to the canvas.
class CanvasLines final : public link::LineSink {
  public:
    explicit CanvasLines(LineCanvas& canvas) : canvas_(canvas) {}
    void drawStatusLine(std::string_view text, int y) override {
        canvas_.drawLine(toQString(text), y);
    }

  private:
    LineCanvas& canvas_;
};

} // namespace

UpdaterWindow::UpdaterWindow(const Variant& variant, usb::Driver& driver, link::Clock& clock,
                             Safeguards safeguards, QWidget* parent)
    : QMainWindow(parent), variant_(variant), canvas_(new LineCanvas(this)), ui_(canvas_),
      flash_(std::make_unique<FlashUpdate>(variant, driver, clock, ui_, safeguards)) {
    setObjectName(QStringLiteral("updaterWindow"));
    setWindowTitle(toQString(kWindowTitle));
    QIcon icon;
    icon.addPixmap(iconPixmap(variant.largeIcon));
    icon.addPixmap(iconPixmap(variant.smallIcon));
    setWindowIcon(icon);
    setCentralWidget(canvas_);
    buildMenus();
    resize(300, 200);

    CanvasLines lines(*canvas_);
    drawGreeting(lines, variant);
}

UpdaterWindow::~UpdaterWindow() {
    // A worker still running here would outlive the objects it uses; main() ends
    // the process before that can happen, so waiting is only ever brief (tests).
    if (worker_ != nullptr) {
        worker_->wait();
    }
}

void UpdaterWindow::buildMenus() {
    QMenu* updateMenu = menuBar()->addMenu(QStringLiteral("&Update"));
    updateMenu->setObjectName(QStringLiteral("menuUpdate"));
    updateAction_ = updateMenu->addAction(QStringLiteral("U&pdate Firmware"));
    updateAction_->setObjectName(QStringLiteral("actionUpdateFirmware"));
    connect(updateAction_, &QAction::triggered, this, &UpdaterWindow::updateFirmware);
    QAction* exitAction = updateMenu->addAction(QStringLiteral("E&xit"));
    exitAction->setObjectName(QStringLiteral("actionExit"));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("menuHelp"));
    QAction* aboutAction = helpMenu->addAction(QStringLiteral("&About ..."));
    aboutAction->setObjectName(QStringLiteral("actionAbout"));
    connect(aboutAction, &QAction::triggered, this, &UpdaterWindow::showAbout);

    // Accelerators, not menu shortcuts: the menu item shows no key text.
    for (const char* keys : {"Alt+?", "Alt+/"}) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(keys)), this);
        connect(shortcut, &QShortcut::activated, this, &UpdaterWindow::showAbout);
    }
}

void UpdaterWindow::DrawStatusLine(std::string_view text, int y) {
    ui_.drawStatusLine(text, y);
}

void UpdaterWindow::updateFirmware() {
    // One update at a time: the device handle and the box's programming state
    // belong to the one running worker.
    if (worker_ != nullptr) {
        return;
    }
    updateAction_->setEnabled(false);
    worker_ = QThread::create([this] { outcome_ = flash_->FlashUpdateThread(); });
    connect(worker_, &QThread::finished, this, &UpdaterWindow::workerFinished);
    worker_->start();
}

void UpdaterWindow::workerFinished() {
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    updateAction_->setEnabled(true);
    if (outcome_ == FlashUpdate::Outcome::BoxInUse) {
        // The refusal box has said why; "preparing..." would promise an update that
        // is not coming.
        canvas_->drawLine(toQString(variant_.titleLine), kFirstLineY);
    }
    emit updateFinished();
    if (terminationPending_) {
        close();
    }
}

void UpdaterWindow::requestTermination() {
    if (flash_->writing()) {
        if (!terminationPending_) {
            canvas_->drawLine(toQString(kClosingAfterWriteLine), kThirdLineY);
        }
        terminationPending_ = true;
        return;
    }
    close();
}

void UpdaterWindow::showAbout() {
    if (about_ != nullptr) {
        about_->raise();
        return;
    }
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("aboutDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(toQString(kAboutCaption));

    auto* layout = new QGridLayout(dialog);
    auto* iconLabel = new QLabel(dialog);
    iconLabel->setPixmap(iconPixmap(variant_.largeIcon)
                             .scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    layout->addWidget(iconLabel, 0, 0, 3, 1, Qt::AlignTop);
    const QString texts[] = {toQString(kAboutName), toQString(kAboutLoaderVersion),
                             QString::fromStdString(aboutImageLine(variant_))};
    int row = 0;
    for (const QString& text : texts) {
        auto* label = new QLabel(text, dialog);
        label->setObjectName(QStringLiteral("aboutLine%1").arg(row + 1));
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label, row++, 1);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, dialog);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    layout->addWidget(buttons, row, 0, 1, 2);

    about_ = dialog;
    dialog->open();
}

void UpdaterWindow::closeEvent(QCloseEvent* event) {
    if (!flash_->writing()) {
        event->accept();
        emit closed();
        return;
    }
    // Ending the program now would leave the box half-written.
    event->ignore();
    if (exitRefused_ != nullptr) {
        exitRefused_->raise();
        return;
    }
    auto* box =
        new UserAnsweredBox(toQString(kExitRefusedCaption), toQString(kExitRefusedText), this);
    box->setObjectName(QStringLiteral("exitRefusedBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    exitRefused_ = box;
    box->open();
}

} // namespace telmar::updater
