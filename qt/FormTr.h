// SPDX-License-Identifier: MIT
#pragma once

#include <QtCore/QCoreApplication>
#include <QtCore/QString>

// The form's texts are translated in the window's context, like every other text
// of the control panel (uic is told to call this instead of its own default).
inline QString formTr(const char* source, const char* disambiguation) {
    return QCoreApplication::translate("MainWindow", source, disambiguation);
}
