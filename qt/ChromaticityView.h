// SPDX-License-Identifier: MIT
#pragma once

#include "panel/DetailsPictures.h"

#include <QtGui/QImage>
#include <QtWidgets/QWidget>
#include <optional>

namespace telmar::panel {

// The CIE 1931 xy diagram: the spectral locus filled with approximate colours, the
// reference gamuts, and the mastering display's primaries and white point.
class ChromaticityView final : public QWidget {
    Q_OBJECT

  public:
    explicit ChromaticityView(QWidget* parent = nullptr);

    // `gamut` names the mastering primaries ("DCI-P3 D65"); greyed values are old ones.
    void setMastering(std::optional<MasteringPoints> points, const QString& gamut, bool greyed);
    const std::optional<MasteringPoints>& mastering() const { return mastering_; }

    QSize sizeHint() const override { return {340, 360}; }
    QSize minimumSizeHint() const override { return {220, 240}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPointF toWidget(XyPoint xy) const;
    void layOut();

    std::optional<MasteringPoints> mastering_;
    QString gamut_;
    bool greyed_ = false;
    QRectF plot_; // x 0 to 0.8 and y 0 to 0.9 on the widget
    QImage fill_; // the locus's colours, drawn for plot_'s size
    QSize fillSize_;
};

} // namespace telmar::panel
