// SPDX-License-Identifier: MIT
// What a screen reader gets from the window: each readout's value as its name (the events
// that announce a change need a real bus: tests/qt/atspi_test.py), a name on every focus
// stop, Tab row by row, menu mnemonics.
#include "qt/MainWindow.h"
#include "tests/qt/PanelHarness.h"
#include "ui_LumoraForm.h"

#include <QtGui/QAccessible>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTabBar>
#include <memory>

using telmar::panel::MainWindow;
using telmar::test::Panel;
using telmar::test::settle;

namespace {

QString nameOf(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface != nullptr ? iface->text(QAccessible::Name) : QString();
}

QString descriptionOf(QObject* object) {
    return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Description);
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

  private slots:
    void readoutsAreReadAsTheirValues_data() {
        QTest::addColumn<bool>("attached");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("spoken");
        QTest::addColumn<QString>("description");
        QTest::newRow("input") << true << "label_video_format"
                               << "Input : 3840x2160p60"
                               << "Video format";
        QTest::newRow("source") << true << "lblVideoSource"
                                << "Source: Tellux Media Player"
                                << "Video source";
        QTest::newRow("hdcp") << true << "lblHdcp"
                              << "Encryption: HDCP 2.2"
                              << "HDCP";
        QTest::newRow("audio") << true << "lblAudio"
                               << "Audio: L-PCM 48kHz 2.0ch 24bit"
                               << "Audio";
        QTest::newRow("version") << true << "labelFw"
                                 << "ver: 1.023.05"
                                 << "Firmware version";
        QTest::newRow("no box: connection") << false << "lblWarning"
                                            << "CONNECT TELMAR AND RESTART GUI"
                                            << "Connection";
        // A blank line still has a name: what it would show.
        QTest::newRow("no box: blank input") << false << "label_video_format"
                                             << "Video format"
                                             << "Video format";
        QTest::newRow("blank connection") << true << "lblWarning"
                                          << "Connection"
                                          << "Connection";
    }

    void readoutsAreReadAsTheirValues() {
        QFETCH(bool, attached);
        QFETCH(QString, label);
        QFETCH(QString, spoken);
        QFETCH(QString, description);
        Panel panel(attached);
        panel.box.useUhdHdrInput();
        MainWindow window(panel.services());
        QVERIFY(settle(window));
        auto* widget = window.findChild<QLabel*>(label);
        QVERIFY(widget != nullptr);
        QCOMPARE(nameOf(widget), spoken);
        QCOMPARE(descriptionOf(widget), description);
    }

    void statusBarIsReadAsItsMessage() {
        Panel panel;
        MainWindow window(panel.services());
        QVERIFY(settle(window));
        window.statusBar()->showMessage("HPD triggered");
        QCOMPARE(nameOf(window.statusBar()), QString("HPD triggered"));
        window.statusBar()->clearMessage();
        QCOMPARE(nameOf(window.statusBar()), QString("Status bar"));
    }

    void tabFollowsTheLayoutThroughNamedStops() {
        Panel panel;
        panel.box.settings[4] = 1; // GUI control on: the CONTROL page is enabled
        MainWindow window(panel.services());
        QVERIFY(settle(window));
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Ui::LumoraForm* f = window.form();
        f->tabWidget->setCurrentWidget(f->tab_2);
        // Radio buttons of one group are a single stop (arrows move within it), so Tab
        // lands on each row's checked choice.
        const QStringList expected{"rbLedEnable",  "rbFrame720",        "rbEncFollow",
                                   "rbHtpcEnable", "rbHdmiAudioEnable", "pbHpd"};
        f->tabWidget->tabBar()->setFocus();
        QStringList order;
        for (int i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            QVERIFY(focused != nullptr);
            order << focused->objectName();
            QVERIFY2(!nameOf(focused).isEmpty(), qPrintable(focused->objectName()));
        }
        QCOMPARE(order, expected);
        QVERIFY(!nameOf(f->tabWidget->tabBar()).isEmpty());
        QCOMPARE(nameOf(f->labelLogo), QString("TELMAR logo"));
    }

    void menusHaveMnemonics() {
        Panel panel;
        MainWindow window(panel.services());
        Ui::LumoraForm* f = window.form();
        QCOMPARE(f->menuFile->title(), QString("&File"));
        QCOMPARE(f->menuHelp->title(), QString("&Help"));
        QCOMPARE(f->actionExit->text(), QString("&Exit"));
        QCOMPARE(f->actionAbout->text(), QString("&About"));
        QCOMPARE(f->actionExit->iconText(), QString("Exit"));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
