// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "updater/FlashUpdate.h"
#include "updater/Variant.h"
#include "updater/qt/QtUserInterface.h"
#include "usb/Driver.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class QAction;
class QDialog;
class QMessageBox;
class QThread;

namespace telmar::updater {

class LineCanvas;

// The updater's one window: the greeting lines, the Update and Help menus, and the
// worker that runs one firmware update at a time.
class UpdaterWindow final : public QMainWindow {
    Q_OBJECT
  public:
    UpdaterWindow(const Variant& variant, usb::Driver& driver, link::Clock& clock,
                  Safeguards safeguards = {}, QWidget* parent = nullptr);
    ~UpdaterWindow() override;

    // Thread-safe: a line drawn at x 10 and the given y.
    void DrawStatusLine(std::string_view text, int y);

    bool workerRunning() const { return worker_ != nullptr; }
    bool writing() const { return flash_->writing(); }
    LineCanvas* canvas() const { return canvas_; }

  public slots:
    void updateFirmware();
    void showAbout();
    // A request to end from outside (SIGTERM at logout, SIGINT, SIGHUP): closes the
    // window as its close box would, but only once the image has been written.
    void requestTermination();

  signals:
    void updateFinished();
    // The window has accepted a close: the program ends.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildMenus();
    void workerFinished();

    const Variant& variant_;
    LineCanvas* canvas_;
    QtUserInterface ui_;
    std::unique_ptr<FlashUpdate> flash_;
    QAction* updateAction_ = nullptr;
    QThread* worker_ = nullptr;
    FlashUpdate::Outcome outcome_ = FlashUpdate::Outcome::Refused; // written by the worker
    QPointer<QDialog> about_;
    QPointer<QMessageBox> exitRefused_;
    bool terminationPending_ = false;
};

} // namespace telmar::updater
