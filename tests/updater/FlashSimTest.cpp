// SPDX-License-Identifier: MIT
// End to end: the updater window, the driver factory's sim backend and the simulated
// box daemon, for both builds.
#include "backends/DriverFactory.h"
#include "tests/support/ScaledClock.h"
#include "tests/support/SimProcess.h"
#include "updater/Variant.h"
#include "updater/qt/LineCanvas.h"
#include "updater/qt/UpdaterWindow.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

using namespace telmar;

namespace {

// Real time, but the procedure's fixed pauses (23.7 s in FPGA1) pass a hundred
// times faster; the link's 2000 ms reply wait stays real since it reads the ticks.

void dismissWorkerBoxes() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
            qWarning("unexpected box: %s", qPrintable(box->text()));
            box->accept();
        }
    }
}

} // namespace

class FlashSimTest : public QObject {
    Q_OBJECT
  private slots:
    void updateWritesTheImageAndResetsTheBox_data() {
        QTest::addColumn<int>("build");
        QTest::newRow("FPGA1") << 1;
        QTest::newRow("FPGA2") << 2;
    }
    void updateWritesTheImageAndResetsTheBox() {
        QFETCH(int, build);
        const updater::Variant& variant =
            build == 1 ? updater::fpga1::variant() : updater::fpga2::variant();
        const std::string flashName = build == 1 ? "fpga1" : "fpga2";

        test::Watchdog watchdog(std::chrono::seconds(100));
        test::SimProcess sim({"--delay-ms", "0"});
        watchdog.guard(sim.pid());
        QVERIFY2(sim.running(), sim.error().c_str());
        sim.becomeUsbBackend();

        test::ScaledClock clock(1, 100);
        std::unique_ptr<usb::Driver> driver = backends::createDriver();
        // The default builds carry placeholders: the simulated box is where they may go.
        QVERIFY(driver->simulatedBox());
        {
            updater::UpdaterWindow window(variant, *driver, clock);
            window.show();
            QSignalSpy finished(&window, &updater::UpdaterWindow::updateFinished);
            window.findChild<QAction*>(QStringLiteral("actionUpdateFirmware"))->trigger();
            // Any box here is a failure; dismissing it lets the worker end.
            for (int i = 0; i < 900 && finished.isEmpty(); ++i) {
                QTest::qWait(100);
                dismissWorkerBoxes();
            }
            QCOMPARE(finished.size(), 1);
            QCOMPARE(window.canvas()->visibleText(10), QStringLiteral("FLASH update ok"));
            QCOMPARE(window.canvas()->visibleText(30),
                     QStringLiteral("You must power cycle your unit"));
        }

        const auto cli = [&](std::vector<std::string> words) {
            words.insert(words.begin(), {"--socket", sim.socket()});
            return test::runCli(words).out;
        };
        const QByteArray flash = QByteArray::fromStdString(cli({"flash", flashName}));
        const QByteArray image(reinterpret_cast<const char*>(variant.image.data()),
                               static_cast<qsizetype>(variant.image.size()));
        QCOMPARE(flash.size(), image.size());
        QVERIFY2(flash == image, "the box's flash differs from the compiled-in image");

        const QString status = QString::fromStdString(cli({"status"}));
        QVERIFY2(status.contains(QString::fromStdString("isp=0 flash=" + flashName)),
                 qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral(" resets=1 ")), qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("misuse=0 ")), qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("handles=0")), qPrintable(status));
    }
};

QTEST_MAIN(FlashSimTest)
#include "FlashSimTest.moc"
