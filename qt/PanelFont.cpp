// SPDX-License-Identifier: MIT
#include "qt/PanelFont.h"

#include <QtGui/QFont>
#include <QtGui/QFontDatabase>
#include <QtWidgets/QApplication>

namespace telmar::panel {

bool installPanelFont() {
    const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/panel.ttf"));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (id < 0 || families.isEmpty()) {
        return false;
    }
    QFont font(families.front(), kPanelFontPointSize);
    QApplication::setFont(font);
    return true;
}

} // namespace telmar::panel
