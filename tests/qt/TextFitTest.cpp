// SPDX-License-Identifier: MIT
// Every text of the form, and the longest text each status line can take, fits its
// widget's fixed geometry in the panel's own font.
#include "panel/PanelCore.h"
#include "qt/MainWindow.h"
#include "qt/PanelFont.h"
#include "status/AudioStatus.h"
#include "tests/qt/PanelHarness.h"
#include "tests/status/Blocks.h"
#include "ui_LumoraForm.h"

#include <QtTest/QtTest>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QStyle>
#include <memory>
#include <set>
#include <string>

using telmar::panel::MainWindow;
using telmar::test::Panel;

namespace {

// Room for text inside a widget: a label's contents, a button's width after its
// indicator or frame.
int roomFor(const QWidget* w) {
    const QStyle* style = w->style();
    if (qobject_cast<const QRadioButton*>(w) != nullptr) {
        return w->width() - style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) -
               style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
    }
    if (qobject_cast<const QCheckBox*>(w) != nullptr) {
        return w->width() - style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) -
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
    }
    if (qobject_cast<const QPushButton*>(w) != nullptr) {
        return w->width() - 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
    }
    const auto* label = qobject_cast<const QLabel*>(w);
    return label->contentsRect().width() - 2 * label->margin();
}

// Adds a line to `clipped` when the text does not fit the widget.
void check(const QWidget* w, const QString& text, QStringList& clipped) {
    const QFontMetrics metrics(w->font());
    const int width = metrics.horizontalAdvance(text);
    const int room = roomFor(w);
    if (width > room || metrics.height() > w->height()) {
        clipped << QString("%1 \"%2\": %3x%4 px in %5x%6")
                       .arg(w->objectName(), text)
                       .arg(width)
                       .arg(metrics.height())
                       .arg(room)
                       .arg(w->height());
    }
}

// Every distinct value of one status line over the byte values its texts depend on.
using Lines = std::set<std::string>;

struct StatusTexts {
    Lines input, encryption, color, source, hdr, deepColor, audio;

    StatusTexts() {
        using telmar::test::VideoBlocks;
        for (std::uint8_t format : std::initializer_list<std::uint8_t>{0x00, 0x20, 0x40}) {
            for (int detail = 0; detail < 256; ++detail) {
                for (int code = 0; code < 256; ++code) {
                    VideoBlocks b;
                    b.input[2] = format, b.input[3] = std::uint8_t(detail);
                    b.avi[7] = std::uint8_t(code);
                    input.insert(b.lines().input);
                }
            }
        }
        for (int hdcp = 0; hdcp < 256; ++hdcp) {
            for (int depth = 0; depth < 16; ++depth) {
                for (std::uint8_t colour :
                     std::initializer_list<std::uint8_t>{0x00, 0x20, 0x40, 0x60}) {
                    VideoBlocks b;
                    b.input[4] = std::uint8_t(hdcp), b.input[5] = std::uint8_t(depth);
                    b.avi[4] = colour;
                    const auto lines = b.lines();
                    encryption.insert(lines.encryption);
                    deepColor.insert(lines.deepColor);
                }
            }
        }
        for (std::uint8_t colour : std::initializer_list<std::uint8_t>{0x00, 0x20, 0x40, 0x60}) {
            for (std::uint8_t colorimetry :
                 std::initializer_list<std::uint8_t>{0x00, 0x40, 0x80, 0xC0}) {
                for (int extended = 0; extended < 256; ++extended) {
                    VideoBlocks b;
                    b.avi[4] = colour, b.avi[5] = colorimetry;
                    b.avi[6] = std::uint8_t(extended);
                    color.insert(b.lines().color);
                }
            }
        }
        for (bool valid : {false, true}) {
            for (int eotf = 0; eotf < 256; ++eotf) {
                VideoBlocks b;
                if (valid) {
                    b.drm(std::uint8_t(eotf));
                }
                hdr.insert(b.lines().hdr);
                source.insert(b.lines().source); // the source's own names are its business
            }
        }
        for (std::uint8_t flags : std::initializer_list<std::uint8_t>{0x00, 0x20}) {
            for (int rate = 0; rate < 8; ++rate) {
                for (int word = 0; word < 16; ++word) {
                    for (int count = 0; count < 8; ++count) {
                        for (int allocation = 0; allocation < 256; ++allocation) {
                            telmar::link::Reply block{};
                            block[0] = 0xE0;
                            block[4] = std::uint8_t(flags | rate);
                            block[9] = std::uint8_t(word);
                            block[12] = std::uint8_t(count);
                            block[15] = std::uint8_t(allocation);
                            audio.insert(telmar::status::composeAudioLine(block));
                        }
                    }
                }
            }
        }
        audio.insert(std::string(telmar::status::kAudioNoInfo));
    }
};

} // namespace

class TextFitTest : public QObject {
    Q_OBJECT

    Panel panel{false};
    std::unique_ptr<MainWindow> window;

  private slots:
    void initTestCase() {
        QVERIFY(telmar::panel::installPanelFont());
        window = std::make_unique<MainWindow>(panel.services());
        QVERIFY(telmar::test::settle(*window));
    }
    void cleanupTestCase() { window.reset(); }

    void formTextsFit() {
        QStringList clipped;
        int checked = 0;
        for (QLabel* l : window->findChildren<QLabel*>()) {
            if (l->objectName() != "labelLogo") { // the logo picture
                check(l, l->text(), clipped);
                ++checked;
            }
        }
        for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
            if (b->inherits("QRadioButton") || b->inherits("QCheckBox") ||
                b->inherits("QPushButton")) {
                check(b, b->text(), clipped);
                ++checked;
            }
        }
        QVERIFY(checked > 30);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("\n")));
    }

    void longestStatusTextsFit() {
        Ui::LumoraForm* f = window->form();
        const StatusTexts texts;
        const std::pair<QLabel*, const Lines*> lines[] = {{f->label_video_format, &texts.input},
                                                          {f->lblHdcp, &texts.encryption},
                                                          {f->lblColor, &texts.color},
                                                          {f->lblVideoSource, &texts.source},
                                                          {f->lblHdr, &texts.hdr},
                                                          {f->lblDeepC, &texts.deepColor},
                                                          {f->lblAudio, &texts.audio}};
        QStringList clipped;
        for (const auto& [label, all] : lines) {
            QVERIFY(!all->empty());
            for (const std::string& text : *all) {
                check(label, QString::fromLatin1(text.c_str()), clipped);
            }
        }
        for (std::string_view warning :
             {telmar::panel::kNotFoundText, telmar::panel::kDisconnectedText}) {
            check(f->lblWarning, QString::fromLatin1(warning), clipped);
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("\n")));
    }
};

QTEST_MAIN(TextFitTest)
#include "TextFitTest.moc"
