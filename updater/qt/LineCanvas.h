// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>
#include <QWidget>
#include <string_view>

namespace telmar::updater {

// The updater's texts are 8-bit; they reach the screen as Latin-1.
inline QString toQString(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The window's client area: text lines at x 10, kept so that they survive any
// repaint. Each line paints over its own width with the background, so a later
// line at the same y covers an earlier one as far as it reaches, blanks included.
class LineCanvas final : public QWidget {
  public:
    struct Line {
        QString text;
        int y;
    };

    explicit LineCanvas(QWidget* parent = nullptr);

    // GUI thread only.
    void drawLine(const QString& text, int y);
    const QList<Line>& lines() const { return lines_; }
    // What a reader sees at y: the newest line there, without its padding.
    QString visibleText(int y) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QList<Line> lines_;
};

} // namespace telmar::updater
