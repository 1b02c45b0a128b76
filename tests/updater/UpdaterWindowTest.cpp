// SPDX-License-Identifier: MIT
#include "updater/qt/UpdaterWindow.h"

#include "tests/support/Gate.h"
#include "tests/support/ScriptedDriver.h"
#include "tests/updater/FlashFixture.h"
#include "updater/Variant.h"
#include "updater/qt/LineCanvas.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <thread>

using namespace telmar;
using updater::LineCanvas;
using updater::UpdaterWindow;

namespace {

QStringList actionTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* a : menu->actions()) {
        texts << a->text();
    }
    return texts;
}

template <typename T> T* visibleTopLevel(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* t = qobject_cast<T*>(w);
            t != nullptr && t->objectName() == name && t->isVisible()) {
            return t;
        }
    }
    return nullptr;
}

// A window over a scripted box whose pauses take no real time.
struct Fixture {
    explicit Fixture(const updater::Variant& variant = updater::fpga2::variant(),
                     bool boxAttached = true)
        : window(variant, driver, clock) {
        if (boxAttached) {
            driver.addDevice("2031");
        }
        driver.setSimulatedBox(true); // the default builds carry placeholder images
        driver.setResponder([](std::span<const std::uint8_t> f) {
            return test::acceptingBox(test::kindOf(f), f, 0);
        });
    }
    ~Fixture() {
        // Whatever a test left running must end before the window goes.
        for (int i = 0; i < 500 && window.workerRunning(); ++i) {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
                    box->accept();
                }
            }
            QTest::qWait(10);
        }
    }
    link::VirtualClock clock;
    test::ScriptedDriver driver{clock};
    UpdaterWindow window;
};

} // namespace

class UpdaterWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void windowTitleSizeAndMenus() {
        Fixture f;
        UpdaterWindow& w = f.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("TELMAR Reflasher"));
        QCOMPARE(w.size(), QSize(300, 200));
        const auto menus = w.menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->text(), QStringLiteral("&Update"));
        QCOMPARE(menus[1]->text(), QStringLiteral("&Help"));
        QCOMPARE(actionTexts(menus[0]->menu()),
                 QStringList({QStringLiteral("U&pdate Firmware"), QStringLiteral("E&xit")}));
        QCOMPARE(actionTexts(menus[1]->menu()), QStringList({QStringLiteral("&About ...")}));
        QVERIFY(!w.windowIcon().isNull());
    }

    void greetingLines_data() {
        QTest::addColumn<int>("build");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("version");
        QTest::newRow("FPGA1") << 1 << "TELMAR FPGA1 Update"
                               << "Version: 24";
        QTest::newRow("FPGA2") << 2 << "TELMAR FPGA2 Update"
                               << "Version: 2.18";
    }
    void greetingLines() {
        QFETCH(int, build);
        QFETCH(QString, title);
        QFETCH(QString, version);
        Fixture f(build == 1 ? updater::fpga1::variant() : updater::fpga2::variant());
        const auto lines = f.window.canvas()->lines();
        QCOMPARE(lines.size(), 4);
        const std::pair<QString, int> expected[] = {{title, 10},
                                                    {version, 30},
                                                    {"Connect USB cable to TELMAR", 80},
                                                    {"Close other software (e.g. GUI)", 100}};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(lines[i].text, expected[i].first);
            QCOMPARE(lines[i].y, expected[i].second);
        }
    }

    void aboutBoxFromMenuAndAccelerators() {
        Fixture f(updater::fpga1::variant());
        f.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&f.window));

        auto* about = f.window.findChild<QAction*>(QStringLiteral("actionAbout"));
        QVERIFY(about != nullptr);
        const std::function<void()> openers[] = {
            [&] { about->trigger(); },
            [&] { QTest::keyClick(&f.window, '?', Qt::AltModifier); },
            [&] { QTest::keyClick(&f.window, '/', Qt::AltModifier); },
        };
        for (const auto& open : openers) {
            f.window.activateWindow(); // the offscreen platform does not hand focus back
            QVERIFY(QTest::qWaitForWindowActive(&f.window));
            open();
            QDialog* dialog = nullptr;
            QTRY_VERIFY((dialog = f.window.findChild<QDialog*>(QStringLiteral("aboutDialog"))) !=
                            nullptr &&
                        dialog->isVisible());
            QCOMPARE(dialog->windowTitle(), QStringLiteral("About TELMAR Reflasher"));
            QStringList texts;
            for (const QLabel* label : dialog->findChildren<QLabel*>()) {
                if (!label->text().isEmpty()) {
                    texts << label->text();
                }
            }
            QCOMPARE(texts.size(), 3);
            QCOMPARE(texts[0], QStringLiteral("TELMAR Reflasher"));
            QCOMPARE(texts[1], QStringLiteral("Loader Version 1.0_120_xp"));
            QVERIFY2(texts[2].startsWith(QStringLiteral("FPGA1 image, 126976 bytes, CRC-32 ")),
                     qPrintable(texts[2]));
            auto* ok = dialog->findChild<QPushButton*>();
            QVERIFY(ok != nullptr);
            QCOMPARE(ok->text().remove(QLatin1Char('&')), QStringLiteral("OK"));
            QTest::mouseClick(ok, Qt::LeftButton);
            QTRY_VERIFY(f.window.findChild<QDialog*>(QStringLiteral("aboutDialog")) == nullptr);
        }
    }

    void exitRefusedWhileWritingAndSecondUpdateIgnored() {
        test::Gate gate; // holds the box's answer to one packet until the test lets it go
        gate.arm();
        Fixture f;
        // Let a held worker go before the window is torn down, even when a check fails.
        struct OpenOnExit {
            test::Gate& gate;
            ~OpenOnExit() { gate.open(); }
        } openOnExit{gate};
        std::atomic<int> enterIsp{0};
        int packets = 0;
        f.driver.setResponder([&](std::span<const std::uint8_t> frame) {
            const auto kind = test::kindOf(frame);
            enterIsp += kind == test::Frame::EnterIsp ? 1 : 0;
            if (kind == test::Frame::Packet && ++packets == 10 * 32) { // in block 9
                gate.pass();
            }
            return test::acceptingBox(kind, frame, 0);
        });
        f.window.show();
        auto* update = f.window.findChild<QAction*>(QStringLiteral("actionUpdateFirmware"));
        auto* exitAction = f.window.findChild<QAction*>(QStringLiteral("actionExit"));

        update->trigger();
        QVERIFY(!update->isEnabled());
        QTRY_VERIFY(gate.reached(std::chrono::milliseconds(0)));
        QVERIFY(f.window.writing());
        update->trigger(); // ignored: one run at a time

        QVERIFY(!f.window.close());
        QVERIFY(f.window.isVisible());
        QMessageBox* refused = nullptr;
        QTRY_VERIFY((refused = f.window.findChild<QMessageBox*>(
                         QStringLiteral("exitRefusedBox"))) != nullptr &&
                    refused->isVisible());
        QVERIFY(refused->text().contains(QStringLiteral("disconnect")));
        refused->accept();
        QTRY_VERIFY(f.window.findChild<QMessageBox*>(QStringLiteral("exitRefusedBox")) == nullptr);
        exitAction->trigger();
        QVERIFY(f.window.isVisible());
        QTRY_VERIFY(f.window.findChild<QMessageBox*>(QStringLiteral("exitRefusedBox")) != nullptr);
        f.window.findChild<QMessageBox*>(QStringLiteral("exitRefusedBox"))->accept();
        // A termination signal (logout) waits for the write, without a box.
        f.window.requestTermination();
        QVERIFY(f.window.isVisible());

        QSignalSpy finished(&f.window, &UpdaterWindow::updateFinished);
        gate.open();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QVERIFY(update->isEnabled());
        QCOMPARE(enterIsp.load(), 1);
        QCOMPARE(f.window.canvas()->visibleText(10), QStringLiteral("FLASH update ok"));
        QCOMPARE(f.window.canvas()->visibleText(30),
                 QStringLiteral("You must power cycle your unit"));
        QVERIFY(!f.window.isVisible()); // then it ended as the close box would
    }

    void workerBoxLeavesWindowResponsive() {
        Fixture f(updater::fpga2::variant(), /*boxAttached=*/false);
        f.window.show();
        QSignalSpy finished(&f.window, &UpdaterWindow::updateFinished);
        f.window.findChild<QAction*>(QStringLiteral("actionUpdateFirmware"))->trigger();

        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = visibleTopLevel<QMessageBox>(QStringLiteral("workerWarning"))) !=
                    nullptr);
        QCOMPARE(box->text(), QStringLiteral("Usb device not connected!"));
        QVERIFY(f.window.workerRunning());
        // The window still answers while the worker waits on its box.
        f.window.findChild<QAction*>(QStringLiteral("actionAbout"))->trigger();
        QTRY_VERIFY(f.window.findChild<QDialog*>(QStringLiteral("aboutDialog")) != nullptr);
        f.window.findChild<QDialog*>(QStringLiteral("aboutDialog"))->accept();
        QVERIFY(f.window.workerRunning());

        box->accept();
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(f.window.canvas()->visibleText(10), QStringLiteral("preparing..."));
        QVERIFY(f.window.findChild<QAction*>(QStringLiteral("actionUpdateFirmware"))->isEnabled());
        QVERIFY(f.window.close()); // nothing was being written
    }

    void linesFromAnotherThreadAndCovering() {
        Fixture f;
        std::thread worker([&] {
            f.window.DrawStatusLine("BytesRead not same as datalength                ", 10);
            f.window.DrawStatusLine("FLASH update ok           ", 10);
        });
        worker.join();
        QTRY_COMPARE(f.window.canvas()->visibleText(10), QStringLiteral("FLASH update ok"));

        LineCanvas canvas;
        canvas.drawLine(QStringLiteral("a long line of text at ten"), 10);
        canvas.drawLine(QStringLiteral("short"), 10); // covers only its own width
        canvas.drawLine(QStringLiteral("other place"), 30);
        QCOMPARE(canvas.lines().size(), 3);
        canvas.drawLine(QStringLiteral("a longer line, padded out to cover     "), 10);
        QCOMPARE(canvas.lines().size(), 2); // both earlier lines at 10 are fully covered
        QCOMPARE(canvas.visibleText(10), QStringLiteral("a longer line, padded out to cover"));
        QCOMPARE(canvas.visibleText(30), QStringLiteral("other place"));
    }

    void linesSurviveRepaint() {
        LineCanvas canvas;
        canvas.resize(300, 160);
        const auto inkIn = [&](int top) {
            const QImage image = canvas.grab().toImage();
            const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
            int ink = 0;
            for (int y = top; y < top + 12; ++y) {
                for (int x = 10; x < 120; ++x) {
                    ink += image.pixel(x, y) != background ? 1 : 0;
                }
            }
            return ink;
        };
        QCOMPARE(inkIn(80), 0);
        canvas.drawLine(QStringLiteral("Connect USB cable to TELMAR"), 80);
        QVERIFY(inkIn(80) > 0);
        canvas.resize(200, 140); // a repaint from scratch still shows the line
        QVERIFY(inkIn(80) > 0);
        QCOMPARE(inkIn(30), 0);
    }
};

QTEST_MAIN(UpdaterWindowTest)
#include "UpdaterWindowTest.moc"
