// SPDX-License-Identifier: MIT
// What a screen reader gets from the window (the announcements need a real bus, see
// atspi_test.py): readouts named by their values, named focus stops in layout order.
#include "panel/ControlNames.h"
#include "qt/MainWindow.h"
#include "tests/qt/PanelHarness.h"
#include "ui_LumoraForm.h"

#include <QtGui/QAccessible>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTabBar>

using telmar::panel::MainWindow;
using telmar::test::Panel;

namespace {
QString nameOf(QObject* object) {
    return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
}
} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

  private slots:
    void readoutsAreNamedByTheirValues() {
        for (bool attached : {true, false}) {
            Panel panel(attached);
            panel.box.useUhdHdrInput();
            MainWindow window(panel.services());
            QVERIFY(telmar::test::settle(window));
            for (const telmar::panel::Readout& readout : telmar::panel::readouts()) {
                auto* label = window.findChild<QLabel*>(readout.objectName);
                const QString text = label->text();
                QCOMPARE(nameOf(label), text.isEmpty() ? QString(readout.description) : text);
            }
            QCOMPARE(nameOf(window.form()->label_video_format),
                     attached ? QString("Input : 3840x2160p60") : QString("Video format"));
            window.statusBar()->showMessage("HPD triggered");
            QCOMPARE(nameOf(window.statusBar()), QString("HPD triggered"));
            QCOMPARE(nameOf(window.form()->labelLogo), QString("TELMAR logo"));
        }
    }

    void tabFollowsTheLayoutThroughNamedStops() {
        Panel panel;
        panel.box.settings[4] = 1; // GUI control on: the CONTROL page is enabled
        MainWindow window(panel.services());
        QVERIFY(telmar::test::settle(window));
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Ui::LumoraForm* f = window.form();
        // Each page from its tab; a radio group is one stop (arrows move within it).
        const std::pair<QWidget*, QStringList> pages[] = {
            {f->tab, {"cbEnableGui", "rbEdidUp", "rbAudioUp"}},
            {f->tab_2,
             {"rbLedEnable", "rbFrame720", "rbEncFollow", "rbHtpcEnable", "rbHdmiAudioEnable",
              "pbHpd"}}};
        for (const auto& [page, expected] : pages) {
            f->tabWidget->setCurrentWidget(page);
            f->tabWidget->tabBar()->setFocus();
            QStringList order;
            for (qsizetype i = 0; i < expected.size(); ++i) {
                QVERIFY(!nameOf(QApplication::focusWidget()).isEmpty());
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                order << QApplication::focusWidget()->objectName();
            }
            QCOMPARE(order, expected);
        }
        QCOMPARE((QStringList{f->menuFile->title(), f->menuHelp->title(), f->actionExit->text(),
                              f->actionAbout->text()}),
                 (QStringList{"&File", "&Help", "&Exit", "&About"}));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
