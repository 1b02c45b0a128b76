// SPDX-License-Identifier: MIT
#include "qt/Dialogs.h"

#include <QtWidgets/QMessageBox>

namespace telmar::panel {

namespace {
QString fromLatin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
} // namespace

void QtDialogs::warning(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::warning(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void QtDialogs::about(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::about(parent, title, text);
}

void QtDialogs::showWarning(std::string_view text, std::string_view caption) {
    QMessageBox::warning(nullptr, fromLatin1(caption), fromLatin1(text), QMessageBox::Ok,
                         QMessageBox::NoButton);
}

} // namespace telmar::panel
