// SPDX-License-Identifier: MIT
#include "qt/Dialogs.h"

#include <QtWidgets/QMessageBox>

namespace telmar::panel {

namespace {

QMessageBox* modelessBox(QMessageBox::Icon icon, QWidget* parent, const QString& title,
                         const QString& text) {
    auto* box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setDefaultButton(static_cast<QPushButton*>(nullptr));
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

} // namespace

void QtDialogs::warning(QWidget* parent, const QString& title, const QString& text) {
    modelessBox(QMessageBox::Warning, parent, title, text)->show();
}

void QtDialogs::about(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox* box = modelessBox(QMessageBox::NoIcon, parent, title, text);
    box->setIconPixmap(parent->windowIcon().pixmap(64, 64));
    box->show();
}

void QtDialogs::show(const QString& text, const QString& caption, std::function<void()> dismissed) {
    QMessageBox* box = modelessBox(QMessageBox::Warning, nullptr, caption, text);
    QObject::connect(box, &QMessageBox::finished, box, [dismissed = std::move(dismissed)] {
        if (dismissed) {
            dismissed();
        }
    });
    linkBox_ = box;
    box->show();
}

void QtDialogs::closeAll() {
    if (linkBox_) {
        linkBox_->close();
    }
}

} // namespace telmar::panel
