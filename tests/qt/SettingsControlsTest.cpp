// SPDX-License-Identifier: MIT
#include "qt/SettingsControls.h"

#include <QtTest/QtTest>

using namespace telmar::panel;

Q_DECLARE_METATYPE(ModeGroup)

// The window tests click every control; this covers the mode rule that exclusive
// buttons never let a click reach: the first checked of up, mid, dn decides.
class SettingsControlsTest : public QObject {
    Q_OBJECT

  private slots:
    void modeWrites_data() {
        QTest::addColumn<ModeGroup>("group");
        QTest::addColumn<bool>("up");
        QTest::addColumn<bool>("mid");
        QTest::addColumn<bool>("dn");
        QTest::addColumn<int>("value"); // -1: nothing written
        QTest::newRow("edid all") << ModeGroup::Edid << true << true << true << 3;
        QTest::newRow("edid mid and dn") << ModeGroup::Edid << false << true << true << 1;
        QTest::newRow("edid none") << ModeGroup::Edid << false << false << false << -1;
        QTest::newRow("audio up and dn") << ModeGroup::Audio << true << false << true << 3;
        QTest::newRow("audio none") << ModeGroup::Audio << false << false << false << -1;
    }
    void modeWrites() {
        QFETCH(ModeGroup, group);
        QFETCH(bool, up);
        QFETCH(bool, mid);
        QFETCH(bool, dn);
        QFETCH(int, value);
        const auto w = modeWrite(group, up, mid, dn);
        QCOMPARE(w.has_value(), value >= 0);
        if (w) {
            QCOMPARE(int(w->value), value);
        }
    }
};

QTEST_APPLESS_MAIN(SettingsControlsTest)
#include "SettingsControlsTest.moc"
