// SPDX-License-Identifier: MIT
#include "updater/qt/QtUserInterface.h"

#include "updater/qt/LineCanvas.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <cstdlib>
#include <future>
#include <memory>

namespace telmar::updater {

void QtUserInterface::drawStatusLine(std::string_view text, int y) {
    LineCanvas* canvas = canvas_;
    QMetaObject::invokeMethod(
        canvas, [canvas, line = toQString(text), y] { canvas->drawLine(line, y); },
        Qt::QueuedConnection);
}

void QtUserInterface::showWarning(std::string_view text, std::string_view caption) {
    auto* app = QCoreApplication::instance();
    const QString boxText = toQString(text);
    const QString boxCaption = toQString(caption);
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        QMessageBox::warning(nullptr, boxCaption, boxText);
        return;
    }
    // Not modal: like an ownerless box, it stops only the worker, never the window.
    auto dismissed = std::make_shared<std::promise<void>>();
    std::future<void> done = dismissed->get_future();
    QMetaObject::invokeMethod(
        app,
        [boxText, boxCaption, dismissed] {
            auto* box = new QMessageBox(QMessageBox::Warning, boxCaption, boxText, QMessageBox::Ok);
            box->setObjectName(QStringLiteral("workerWarning"));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::NonModal);
            QObject::connect(box, &QDialog::finished, box, [dismissed] { dismissed->set_value(); });
            box->show();
        },
        Qt::QueuedConnection);
    done.wait();
}

void QtUserInterface::endProcess(int exitCode) {
    // The worker is inside the fatal path and the window has nothing left to save.
    std::_Exit(exitCode);
}

} // namespace telmar::updater
