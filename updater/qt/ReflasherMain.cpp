// SPDX-License-Identifier: MIT
#include "updater/qt/ReflasherMain.h"

#include "backends/DriverFactory.h"
#include "updater/Texts.h"
#include "updater/qt/UpdaterWindow.h"
#include "updater/qtcore/LogindInhibitor.h"
#include "updater/qtcore/QtUpdateLock.h"
#include "updater/qtcore/TerminationSignals.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdlib>

namespace telmar::updater {

int runReflasher(const Variant& variant, link::Clock& clock,
                 const std::function<void(UpdaterWindow&)>& started) {
    std::unique_ptr<usb::Driver> driver = backends::createDriver();
    if (!driver) {
        QMessageBox::critical(nullptr, QString::fromStdString(programName(variant)),
                              QString::fromStdString(backends::backendVariableProblem()));
        return 2;
    }
    QtUpdateLock lock;
    LogindInhibitor inhibitor;
    TerminationSignals termination;
    UpdaterWindow window(variant, *driver, clock, {.lock = &lock, .writeGuard = &inhibitor});
    QObject::connect(&termination, &TerminationSignals::requested, &window,
                     &UpdaterWindow::requestTermination);
    // The program ends when its window closes, and only then. Qt's own end on the
    // last closed window asks every window to close first, boxes included, so a
    // worker's box could be answered by the program instead of its user.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(
        &window, &UpdaterWindow::closed, &window, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    window.show();
    if (started) {
        started(window);
    }
    const int code = QApplication::exec();
    if (window.workerRunning()) {
        // Closing is refused while the image is written, so the worker is only
        // waiting (its first pause, or a box): it ends with the process.
        std::_Exit(code);
    }
    return code;
}

} // namespace telmar::updater
