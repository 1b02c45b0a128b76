// SPDX-License-Identifier: MIT
#include "updater/qt/LineCanvas.h"

#include "updater/Texts.h"

#include <QFontMetrics>
#include <QPainter>

namespace telmar::updater {

LineCanvas::LineCanvas(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

void LineCanvas::drawLine(const QString& text, int y) {
    // Lines fully covered by the new one can never show again: drop them so a long
    // run does not pile up hundreds of progress lines.
    const QFontMetrics metrics(font());
    const int width = metrics.horizontalAdvance(text);
    lines_.removeIf([&](const Line& line) {
        return line.y == y && metrics.horizontalAdvance(line.text) <= width;
    });
    lines_.append({text, y});
    update();
}

QString LineCanvas::visibleText(int y) const {
    for (auto it = lines_.crbegin(); it != lines_.crend(); ++it) {
        if (it->y == y) {
            return it->text.trimmed();
        }
    }
    return {};
}

void LineCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    for (const Line& line : lines_) {
        const QRect cell(kLineX, line.y, metrics.horizontalAdvance(line.text), metrics.height());
        painter.fillRect(cell, palette().base());
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, line.text);
    }
}

} // namespace telmar::updater
