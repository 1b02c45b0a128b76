// SPDX-License-Identifier: MIT
#pragma once

#include <QtCore/QCoreApplication>
#include <QtCore/QString>
#include <string>
#include <string_view>

// The form's texts are translated in the window's context, like every other text
// of the control panel (uic is told to call this instead of its own default).
inline QString formTr(const char* source, const char* disambiguation) {
    return QCoreApplication::translate("MainWindow", source, disambiguation);
}

// One of the program's own texts, in the context of the class it belongs to.
inline QString translated(const char* context, std::string_view text) {
    const std::string source(text);
    return QCoreApplication::translate(context, source.c_str());
}

// 8-bit text as the box sent it, and as the status rows keep it.
inline QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
