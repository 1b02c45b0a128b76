// SPDX-License-Identifier: MIT
#include "qt/ChromaticityView.h"

#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <algorithm>

namespace telmar::panel {

namespace {

constexpr double kMaxX = 0.8;
constexpr double kMaxY = 0.9;
constexpr int kLabelledNm[] = {460, 480, 490, 500, 510, 520, 540, 560, 580, 600, 620, 700};

// In the order of referenceGamuts(); all are drawn in one dark grey.
constexpr Qt::PenStyle kGamutStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine};

} // namespace

ChromaticityView::ChromaticityView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("chromaticity"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void ChromaticityView::setMastering(std::optional<MasteringPoints> points, const QString& gamut,
                                    bool greyed) {
    mastering_ = points;
    gamut_ = gamut;
    greyed_ = greyed;
    update();
}

QPointF ChromaticityView::toWidget(XyPoint xy) const {
    return {plot_.left() + xy.x / kMaxX * plot_.width(),
            plot_.bottom() - xy.y / kMaxY * plot_.height()};
}

void ChromaticityView::layOut() {
    const QRectF room = QRectF(rect()).adjusted(34, 10, -10, -30);
    // One unit of x is as long as one of y, so the triangles keep their shapes.
    const double scale = std::max(1.0, std::min(room.width() / kMaxX, room.height() / kMaxY));
    plot_ = QRectF(room.left(), room.top(), kMaxX * scale, kMaxY * scale);
    if (fillSize_ == plot_.size().toSize()) {
        return;
    }
    fillSize_ = plot_.size().toSize();
    fill_ = QImage(fillSize_, QImage::Format_RGB32);
    for (int row = 0; row < fill_.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(fill_.scanLine(row));
        const double y = (fill_.height() - row - 0.5) / scale;
        for (int col = 0; col < fill_.width(); ++col) {
            const auto c = displayColour({(col + 0.5) / scale, y});
            line[col] = qRgb(c[0], c[1], c[2]);
        }
    }
}

void ChromaticityView::paintEvent(QPaintEvent* /*event*/) {
    layOut();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    if (greyed_) {
        p.setOpacity(0.45);
    }

    // Grid and axes.
    p.setPen(QPen(QColor(210, 210, 210), 1));
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    p.setFont(small);
    for (int i = 0; i <= 9; ++i) {
        const double v = i / 10.0;
        if (v <= kMaxX) {
            p.setPen(QColor(215, 215, 215));
            p.drawLine(toWidget({v, 0}), toWidget({v, kMaxY}));
            p.setPen(palette().color(QPalette::Text));
            p.drawText(QRectF(toWidget({v, 0}) + QPointF(-15, 3), QSizeF(30, 14)),
                       Qt::AlignHCenter | Qt::AlignTop, QString::number(v, 'f', 1));
        }
        p.setPen(QColor(215, 215, 215));
        p.drawLine(toWidget({0, v}), toWidget({kMaxX, v}));
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QRectF(toWidget({0, v}) + QPointF(-32, -7), QSizeF(28, 14)),
                   Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'f', 1));
    }
    p.drawText(QRectF(plot_.left(), plot_.bottom() + 14, plot_.width(), 14), Qt::AlignHCenter,
               QStringLiteral("x"));
    p.drawText(QRectF(0, plot_.top(), 12, plot_.height() / 2), Qt::AlignCenter,
               QStringLiteral("y"));

    // The spectral locus, closed by the line of purples, filled with its colours.
    QPainterPath locus;
    for (const SpectralPoint& s : spectralLocus()) {
        if (locus.elementCount() == 0) {
            locus.moveTo(toWidget(s.xy));
        } else {
            locus.lineTo(toWidget(s.xy));
        }
    }
    locus.closeSubpath();
    p.save();
    p.setClipPath(locus);
    p.drawImage(plot_.topLeft(), fill_);
    p.restore();
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.drawPath(locus);
    p.setPen(palette().color(QPalette::Text));
    for (const SpectralPoint& s : spectralLocus()) {
        if (std::find(std::begin(kLabelledNm), std::end(kLabelledNm), s.nanometres) ==
            std::end(kLabelledNm)) {
            continue;
        }
        const QPointF at = toWidget(s.xy);
        const bool left = s.xy.x < 0.2;
        p.drawText(QRectF(at.x() + (left ? -44 : 4), at.y() - 7, 40, 14),
                   (left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                   QString::number(s.nanometres));
    }

    // Reference gamuts, with a legend at the top right.
    const auto gamuts = referenceGamuts();
    QPointF legend = toWidget({0.46, 0.86});
    for (std::size_t i = 0; i < gamuts.size(); ++i) {
        const GamutTriangle& g = gamuts[i];
        p.setPen(QPen(QColor(30, 30, 30), 1.2, kGamutStyles[i]));
        p.setBrush(Qt::NoBrush);
        const QPointF corners[] = {toWidget(g.red), toWidget(g.green), toWidget(g.blue)};
        p.drawPolygon(corners, 3);
        p.drawLine(legend, legend + QPointF(22, 0));
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QRectF(legend + QPointF(26, -7), QSizeF(140, 14)), Qt::AlignVCenter,
                   QString::fromLatin1(g.name.data(), static_cast<qsizetype>(g.name.size())));
        legend += QPointF(0, 15);
    }
    const QPointF d65 = toWidget(kD65);

    // The mastering display: a bold triangle, its primaries and its white point.
    const QColor mark(200, 0, 120);
    if (mastering_) {
        const QPointF corners[] = {toWidget(mastering_->red), toWidget(mastering_->green),
                                   toWidget(mastering_->blue)};
        p.setPen(QPen(Qt::white, 4));
        p.drawPolygon(corners, 3);
        p.setPen(QPen(mark, 2));
        p.drawPolygon(corners, 3);
        p.setBrush(Qt::white);
        for (const QPointF& c : corners) {
            p.drawEllipse(c, 4, 4);
        }
        const QPointF white = toWidget(mastering_->white);
        p.setPen(QPen(mark, 2));
        p.drawLine(white + QPointF(-6, 0), white + QPointF(6, 0));
        p.drawLine(white + QPointF(0, -6), white + QPointF(0, 6));
        p.drawLine(legend, legend + QPointF(22, 0));
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QRectF(legend + QPointF(26, -7), QSizeF(160, 14)), Qt::AlignVCenter,
                   tr("Mastering: %1").arg(gamut_));
    } else {
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QRectF(legend + QPointF(0, -7), QSizeF(180, 14)), Qt::AlignVCenter,
                   tr("No mastering data"));
    }
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(d65, 2.5, 2.5);
    p.drawText(QRectF(d65 + QPointF(5, 2), QSizeF(40, 14)), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("D65"));
}

} // namespace telmar::panel
