// SPDX-License-Identifier: MIT
// The window stays usable whatever the box does: frames unchanged, clicks never lost, close
// at any moment, one link box at a time, and the box found again after it went away.
#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "qt/MainWindow.h"
#include "status/StatusUpdate.h"
#include "tests/qt/PanelHarness.h"
#include "tests/support/Gate.h"
#include "tests/support/RecordingMessages.h"
#include "ui_LumoraForm.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>
#include <memory>
#include <tuple>

using telmar::panel::MainWindow;
using telmar::test::Call;
using telmar::test::CallRecord;
using telmar::test::Gate;
using telmar::test::Panel;
using telmar::test::settle;
using telmar::test::start;
using telmar::test::statusTexts;
using telmar::test::tick;
using telmar::test::tickNow;
using Frame = std::vector<std::uint8_t>;

namespace {

const Frame kSettingsRead{0x11, 0x16, 0xE1};

void searchTick(MainWindow& window) {
    auto* timer = window.findChild<QTimer*>("searchTimer");
    QVERIFY(timer != nullptr && timer->isActive());
    QMetaObject::invokeMethod(timer, "timeout");
    settle(window);
}

auto key(const CallRecord& c) {
    return std::tuple(int(c.call), c.index, c.option, c.handle, c.count, c.data, c.readMs,
                      c.writeMs);
}

} // namespace

class ResilienceTest : public QObject {
    Q_OBJECT

  private slots:
    // Start-up and one poll call the driver exactly as the link does when the same
    // requests are made one after the other on one thread.
    void driverCallsAreThoseOfTheRequestsInOrder() {
        Panel panel;
        panel.box.useUhdHdrInput();
        auto window = start(panel);
        tick(*window);

        Panel direct;
        direct.box.useUhdHdrInput();
        telmar::test::RecordingMessages boxes;
        telmar::test::RecordingStatusSink status;
        telmar::link::PanelLink link(direct.driver, direct.clock, boxes);
        telmar::protocol::ControlProtocol protocol(link, status);
        std::uint32_t index = 0;
        QVERIFY(link.findDevice("2031", index) && link.openDevice(index));
        for (bool startUp : {true, false}) {
            telmar::link::Reply reply{};
            protocol.readSettings(reply, 22);
            if (startUp) {
                protocol.readBlock(9, reply, 8);
            }
            telmar::status::readStatusUpdate(protocol);
        }

        const auto got = panel.driver.calls();
        const auto want = direct.driver.calls();
        QCOMPARE(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            QVERIFY2(key(got[i]) == key(want[i]), qPrintable(QString("call %1").arg(i)));
        }
    }

    void clicksDuringAPollAllReachTheBoxInOrder() {
        Panel panel;
        panel.box.settings[4] = 1;
        auto window = start(panel);
        Ui::LumoraForm* f = window->form();
        panel.driver.clearCalls();
        Gate gate;
        gate.arm();
        panel.box.onFrame = [&](std::span<const std::uint8_t> frame) {
            if (Frame(frame.begin(), frame.end()) == kSettingsRead) {
                gate.pass();
            }
        };
        tickNow(*window);
        QVERIFY(gate.reached());
        for (QAbstractButton* b :
             {static_cast<QAbstractButton*>(f->rbLedDisable),
              static_cast<QAbstractButton*>(f->rbFrame1080),
              static_cast<QAbstractButton*>(f->rbEdidDn), static_cast<QAbstractButton*>(f->pbHpd),
              static_cast<QAbstractButton*>(f->rbLedEnable)}) {
            b->click();
        }
        gate.open();
        QVERIFY(settle(*window));

        std::vector<Frame> writes;
        for (const Frame& frame : panel.driver.writtenFrames()) {
            if (frame[0] == 0x10) {
                writes.push_back(frame);
            }
        }
        QCOMPARE(writes, (std::vector<Frame>{{0x10, 0x04, 0xE0, 0x00, 0x00},
                                             {0x10, 0x04, 0xE0, 0x01, 0x01},
                                             {0x10, 0x04, 0xE0, 0x05, 0x02},
                                             {0x10, 0x04, 0xE0, 0x0A, 0x01},
                                             {0x10, 0x04, 0xE0, 0x00, 0x01}}));
        QCOMPARE(panel.driver.writtenFrames().back(), writes.back());
        QVERIFY(f->rbLedEnable->isChecked() && f->rbFrame1080->isChecked() &&
                f->rbEdidDn->isChecked());
    }

    void closeDuringAWaitEndsAtOnce_data() {
        QTest::addColumn<bool>("viaMenu");
        QTest::newRow("close box") << false;
        QTest::newRow("File > Exit") << true;
    }
    void closeDuringAWaitEndsAtOnce() {
        QFETCH(bool, viaMenu);
        Panel panel;
        QPointer<MainWindow> window = new MainWindow(panel.services());
        settle(*window);
        // A box that never answers, in a wait that virtual time never ends by itself.
        panel.driver.setQueueCheckCostMs(0);
        panel.box.silent = true;
        window->form()->pbHpd->click();
        QTRY_VERIFY(window->link().linkBusy());

        QElapsedTimer elapsed;
        elapsed.start();
        if (viaMenu) {
            window->form()->actionExit->trigger();
            QVERIFY(window.isNull());
            QCOMPARE(panel.exitCodes, std::vector<int>{0});
        } else {
            QVERIFY(window->close());
        }
        QVERIFY2(elapsed.elapsed() < 1000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(panel.callCount(Call::Close), 1);
        QCOMPARE(panel.driver.openHandles(), 0);
        delete window.data();
        QCOMPARE(panel.callCount(Call::Close), 1);
    }

    // Every queue check fails: one box after the other, never two, and the window goes on
    // taking menus and clicks and closes with a box open.
    void persistentQueueFaultShowsOneBoxAtATime() {
        Panel panel;
        auto window = start(panel);
        panel.recorder.holdLinkBoxes = true;
        panel.driver.failCall(Call::CheckRxQueue, -1);
        tickNow(*window);
        for (int i = 0; i < 5; ++i) {
            QTRY_COMPARE(panel.recorder.openLinkBoxes.size(), std::size_t(1));
            tickNow(*window);
            window->form()->actionAbout->trigger();
            QCOMPARE(panel.recorder.boxes.back().kind, QString("about"));
            panel.recorder.dismissOne();
        }
        QTRY_COMPARE(panel.recorder.openLinkBoxes.size(), std::size_t(1));
        window->form()->rbLedDisable->click(); // queued behind the poll, not lost
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(window->close());
        QVERIFY(elapsed.elapsed() < 1000);
        QVERIFY(panel.recorder.openLinkBoxes.empty());
        QCOMPARE(panel.recorder.maxOpenLinkBoxes, std::size_t(1));
        QCOMPARE(panel.callCount(Call::Close), 1);
    }

    void theBoxIsFoundAgain_data() {
        QTest::addColumn<bool>("attachedAtStart");
        QTest::newRow("unplugged and plugged again") << true;
        QTest::newRow("attached after start") << false;
    }
    void theBoxIsFoundAgain() {
        QFETCH(bool, attachedAtStart);
        Panel panel(attachedAtStart);
        panel.box.useUhdHdrInput();
        auto window = start(panel);
        Ui::LumoraForm* f = window->form();
        if (attachedAtStart) {
            QCOMPARE(f->label_video_format->text(), QString("Input : 3840x2160p60"));
            panel.driver.unplugAll();
            tick(*window);
            QCOMPARE(f->lblWarning->text(), QString("TELMAR disconnected"));
            QCOMPARE(statusTexts(f), QStringList(QList<QString>(7, QString())));
            QVERIFY(!f->rbLedEnable->isEnabled() && !f->cbEnableGui->isEnabled());
            QVERIFY(!f->pbHpd->isEnabled() && !f->rbEdidMid->isEnabled());
            QVERIFY(!window->pollTimerActive());
        } else {
            QCOMPARE(f->lblWarning->text(), QString("CONNECT TELMAR AND RESTART GUI"));
        }
        QVERIFY(window->searching());
        searchTick(*window); // nothing there yet
        QVERIFY(window->searching());

        panel.driver.addDevice("2031");
        searchTick(*window);
        QCOMPARE(f->lblWarning->text(), QString());
        QCOMPARE(f->labelFw->text(), QString("ver: 1.023.05"));
        QCOMPARE(f->label_video_format->text(), QString("Input : 3840x2160p60"));
        QVERIFY(f->rbLedEnable->isEnabled() && f->cbEnableGui->isEnabled());
        QVERIFY(window->pollTimerActive());
        QVERIFY(!window->searching());
        QCOMPARE(panel.recorder.boxes.size(), std::size_t(attachedAtStart ? 0 : 1));
    }

    // The real link box: no owner, not modal, and closed (with its dismissal told) on exit.
    void linkBoxLeavesTheWindowUsable() {
        telmar::panel::QtDialogs dialogs;
        int dismissed = 0;
        dialogs.show("Error Checking RX Queue", " ", [&] { ++dismissed; });
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            box = box ? box : qobject_cast<QMessageBox*>(w);
        }
        QVERIFY(box != nullptr && box->isVisible());
        QCOMPARE(box->parentWidget(), nullptr);
        QCOMPARE(box->windowModality(), Qt::NonModal);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(box->windowTitle(), QString(" "));
        QPointer<QMessageBox> watched = box;
        dialogs.closeAll();
        QCOMPARE(dismissed, 1);
        QTRY_VERIFY(watched.isNull());
    }

    void controlsHaveDistinctAccessibleNames() {
        Panel panel(false);
        auto window = start(panel);
        QSet<QString> names;
        int controls = 0;
        for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
            if (b->inherits("QRadioButton") || b->inherits("QCheckBox") ||
                b->inherits("QPushButton")) {
                ++controls;
                QVERIFY2(!b->accessibleName().isEmpty(), qPrintable(b->objectName()));
                names.insert(b->accessibleName());
            }
        }
        QCOMPARE(controls, 18);
        QCOMPARE(names.size(), controls);
        for (QLabel* caption : window->form()->tab_2->findChildren<QLabel*>()) {
            QVERIFY2(caption->buddy() != nullptr, qPrintable(caption->objectName()));
        }
        QCOMPARE(window->form()->label_23->buddy(), window->form()->rbLedEnable);
    }
};

QTEST_MAIN(ResilienceTest)
#include "ResilienceTest.moc"
