// SPDX-License-Identifier: MIT
#include "qt/SpeakerView.h"

#include "panel/DetailsPictures.h"
#include "qt/FormTr.h"

#include <QtGui/QPainter>
#include <algorithm>

namespace telmar::panel {

SpeakerView::SpeakerView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("speakers"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void SpeakerView::setSpeakers(std::vector<status::Speaker> lit, bool greyed) {
    lit_ = std::move(lit);
    greyed_ = greyed;
    update();
}

void SpeakerView::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    if (greyed_) {
        p.setOpacity(0.45);
    }
    const QColor text = palette().color(QPalette::Text);
    const QColor dim(170, 170, 170);
    const QRectF room = QRectF(rect()).adjusted(24, 30, -24, -34);
    const auto at = [&](double x, double y) {
        return QPointF(room.left() + x * room.width(), room.top() + y * room.height());
    };

    p.setPen(QPen(dim, 1));
    p.drawRect(room);
    p.fillRect(QRectF(room.left() + room.width() * 0.25, room.top() - 14, room.width() * 0.5, 5),
               text);
    p.setPen(text);
    p.drawText(QRectF(room.left(), 2, room.width(), 14), Qt::AlignHCenter, tr("Screen"));
    const QPointF listener = at(kListener.x, kListener.y);
    p.setBrush(dim);
    p.setPen(Qt::NoPen);
    p.drawEllipse(listener, 9, 9);

    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.85));
    p.setFont(small);
    for (const SpeakerSpot& spot : speakerSpots()) {
        const bool on = std::find(lit_.begin(), lit_.end(), spot.speaker) != lit_.end();
        const std::string_view name = status::speakerName(spot.speaker);
        const QRectF box(at(spot.x, spot.y) - QPointF(19, 10), QSizeF(38, 20));
        p.setPen(QPen(on ? palette().color(QPalette::Highlight) : dim, 1.2,
                      spot.top ? Qt::DashLine : Qt::SolidLine));
        p.setBrush(on ? palette().highlight() : QBrush(Qt::NoBrush));
        p.drawRoundedRect(box, 4, 4);
        p.setPen(on ? palette().color(QPalette::HighlightedText) : dim);
        p.drawText(box, Qt::AlignCenter, latin1(name));
    }

    p.setFont(font());
    p.setPen(text);
    const QString caption =
        lit_.empty() ? tr("No channel allocation") : tr("Speakers lit: %1").arg(lit_.size());
    p.drawText(QRectF(0, room.bottom() + 8, width(), 20), Qt::AlignHCenter, caption);
}

} // namespace telmar::panel
