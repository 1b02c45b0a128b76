// SPDX-License-Identifier: MIT
#pragma once

#include "status/SignalDetails.h"

#include <QtWidgets/QWidget>
#include <vector>

namespace telmar::panel {

// The room from above: every speaker a channel allocation can name, those of the
// input's allocation lit.
class SpeakerView final : public QWidget {
    Q_OBJECT

  public:
    explicit SpeakerView(QWidget* parent = nullptr);

    void setSpeakers(std::vector<status::Speaker> lit, bool greyed);
    const std::vector<status::Speaker>& lit() const { return lit_; }

    QSize sizeHint() const override { return {300, 300}; }
    QSize minimumSizeHint() const override { return {200, 200}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<status::Speaker> lit_;
    bool greyed_ = false;
};

} // namespace telmar::panel
