// SPDX-License-Identifier: MIT
#include "updater/qt/QtUserInterface.h"

#include "updater/qt/LineCanvas.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace telmar::updater {

void QtUserInterface::drawStatusLine(std::string_view text, int y) {
    LineCanvas* canvas = canvas_;
    QMetaObject::invokeMethod(
        canvas, [canvas, line = toQString(text), y] { canvas->drawLine(line, y); },
        Qt::QueuedConnection);
}

UserAnsweredBox::UserAnsweredBox(const QString& caption, const QString& text, QWidget* parent)
    : QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent) {}

void UserAnsweredBox::closeEvent(QCloseEvent* event) {
    // The box's own answer (QDialog::done) closes it without a close event; a
    // spontaneous one is the user's click on the frame's close button.
    if (!event->spontaneous()) {
        event->ignore();
        return;
    }
    QMessageBox::closeEvent(event);
}

void QtUserInterface::showWarning(std::string_view text, std::string_view caption) {
    auto* app = QCoreApplication::instance();
    const QString boxText = toQString(text);
    const QString boxCaption = toQString(caption);
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        QMessageBox::warning(nullptr, boxCaption, boxText);
        return;
    }
    // Set only by the box's answer. A box destroyed unanswered (the process is ending)
    // leaves the worker waiting: the fatal path must not run on behind boxes nobody saw.
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        bool answered = false;
    };
    auto answer = std::make_shared<Answer>();
    // Not modal: like an ownerless box, it stops only the worker, never the window.
    QMetaObject::invokeMethod(
        app,
        [boxText, boxCaption, answer] {
            auto* box = new UserAnsweredBox(boxCaption, boxText);
            box->setObjectName(QStringLiteral("workerWarning"));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::NonModal);
            QObject::connect(box, &QDialog::finished, box, [answer] {
                const std::lock_guard lock(answer->mutex);
                answer->answered = true;
                answer->given.notify_all();
            });
            box->show();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(answer->mutex);
    answer->given.wait(lock, [&] { return answer->answered; });
}

void QtUserInterface::endProcess(int exitCode) {
    // The worker is inside the fatal path and the window has nothing left to save.
    std::_Exit(exitCode);
}

} // namespace telmar::updater
