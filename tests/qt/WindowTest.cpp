// SPDX-License-Identifier: MIT
#include "qt/MainWindow.h"
#include "tests/qt/PanelHarness.h"
#include "ui_LumoraForm.h"

#include <QtCore/QAbstractEventDispatcher>
#include <QtCore/QPointer>
#include <QtCore/QRegularExpression>
#include <QtTest/QtTest>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QStatusBar>
#include <memory>

using telmar::panel::MainWindow;
using telmar::test::Call;
using telmar::test::Panel;
using telmar::test::settle;
using telmar::test::ShownStatus;
using telmar::test::start;
using telmar::test::statusTexts;
using telmar::test::tick;
using telmar::test::tickNow;
using Frame = std::vector<std::uint8_t>;

namespace {

QList<QAbstractEventDispatcher::TimerInfo> timersOf(QObject* object) {
    return QAbstractEventDispatcher::instance()->registeredTimers(object);
}

void click(MainWindow& window, QAbstractButton* button) {
    button->click();
    settle(window);
}

QList<QAbstractButton*> modeButtons(Ui::LumoraForm* f) {
    return {f->rbEdidUp, f->rbEdidMid, f->rbEdidDn, f->rbAudioUp, f->rbAudioMid, f->rbAudioDn};
}

bool anyWrite(const std::vector<Frame>& frames) {
    for (const auto& f : frames) {
        if (!f.empty() && f[0] == 0x10) {
            return true;
        }
    }
    return false;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    void slotTable() {
        const QMetaObject& mo = MainWindow::staticMetaObject;
        QCOMPARE(QString(mo.className()), QString("telmar::panel::MainWindow"));
        const QList<QByteArray> expected{"on_ProgressChange(int,int)",
                                         "FileExit()",
                                         "FileAbout()",
                                         "setLogoLed()",
                                         "setAudioFrame()",
                                         "setHdcpVersion()",
                                         "setHpd()",
                                         "setHtpc()",
                                         "setGuiEnable()",
                                         "setEdidMode()",
                                         "setAudioMode()",
                                         "setHdmiAudioMute()"};
        QCOMPARE(mo.methodCount() - mo.methodOffset(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const QMetaMethod m = mo.method(mo.methodOffset() + i);
            QCOMPARE(m.methodSignature(), expected[i]);
            QCOMPARE(m.methodType(), QMetaMethod::Slot);
            QCOMPARE(m.access(), i == 0 ? QMetaMethod::Public : QMetaMethod::Private);
        }
        QCOMPARE(mo.method(mo.methodOffset()).parameterNames(), (QList<QByteArray>{"a", "b"}));
    }

    void startWithoutBox() {
        Panel panel(false);
        auto window = start(panel);
        Ui::LumoraForm* f = window->form();
        QCOMPARE(f->lblWarning->text(), QString("CONNECT TELMAR AND RESTART GUI"));
        QCOMPARE(f->labelTitle->text(), QString("TELMAR GUI"));
        QCOMPARE(f->labelFw->text(), QString());
        QCOMPARE(statusTexts(f), QStringList(QList<QString>(7, QString())));
        for (QAbstractButton* b : modeButtons(f)) {
            QVERIFY(!b->isEnabled());
        }
        QCOMPARE(panel.recorder.boxes.size(), size_t(1));
        QCOMPARE(panel.recorder.boxes[0].kind, QString("link"));
        QCOMPARE(panel.recorder.boxes[0].text, QString("Connect USB cable to TELMAR"));
        QCOMPARE(panel.recorder.boxes[0].title, QString(" "));
        QVERIFY(!window->pollTimerActive());
        QVERIFY(timersOf(window.get()).isEmpty());
        QCOMPARE(panel.callCount(Call::Open), 0);
        QVERIFY(panel.driver.writtenFrames().empty());
    }

    void startWhenOpenFails() {
        Panel panel;
        panel.driver.failCall(Call::Open);
        auto window = start(panel);
        const auto& boxes = panel.recorder.boxes;
        QCOMPARE(boxes.size(), size_t(2));
        QCOMPARE(boxes[0].kind, QString("link"));
        QCOMPARE(boxes[0].text, QString("Usb device open error!"));
        QCOMPARE(boxes[1].kind, QString("warning"));
        QCOMPARE(boxes[1].title, QString("TELMAR GUI"));
        QCOMPARE(boxes[1].text, QString("Hardware not found"));
        QCOMPARE(boxes[1].parent, window.get());
        QCOMPARE(window->form()->lblWarning->text(), QString());
        QVERIFY(!window->pollTimerActive());
        QVERIFY(timersOf(window.get()).isEmpty());
        QVERIFY(panel.driver.writtenFrames().empty());
    }

    void startRunning_data() {
        QTest::addColumn<QList<int>>("version");
        QTest::addColumn<QString>("text");
        QTest::newRow("1.023.05") << QList<int>{1, 0, 2, 3, 0, 5} << "ver: 1.023.05";
        QTest::newRow("2.1000.112") << QList<int>{2, 10, 0, 0, 1, 12} << "ver: 2.1000.112";
    }
    void startRunning() {
        QFETCH(QList<int>, version);
        QFETCH(QString, text);
        Panel panel;
        for (int i = 0; i < 6; ++i) {
            panel.box.version[size_t(i)] = std::uint8_t(version[i]);
        }
        panel.box.useUhdHdrInput();
        panel.box.settings[0] = 0;  // logo LED off
        panel.box.settings[4] = 1;  // GUI control on
        panel.box.settings[5] = 2;  // EDID DN
        panel.box.settings[6] = 3;  // AUDIO UP
        panel.box.settings[10] = 1; // HTPC on
        panel.box.settings[15] = 0x5A;
        auto window = start(panel);
        Ui::LumoraForm* f = window->form();

        QCOMPARE(f->labelFw->text(), text);
        QCOMPARE(f->lblWarning->text(), QString());
        QVERIFY(panel.recorder.boxes.empty());
        QVERIFY(panel.status.shown.empty());

        // Settings first, then the version, then one full status update.
        const std::vector<Frame> expected{{0x11, 0x16, 0xE1},       {0x11, 0x08, 0xE0, 0x09},
                                          {0x11, 0x07, 0xE0, 0x0B}, {0x11, 0x11, 0xE0, 0x0C},
                                          {0x11, 0x21, 0xE0, 0x0D}, {0x11, 0x21, 0xE0, 0x0E},
                                          {0x11, 0x10, 0xE0, 0x0F}};
        QCOMPARE(panel.driver.writtenFrames(), expected);

        QCOMPARE(window->settingsMirror(), panel.box.settings);
        QVERIFY(f->rbLedDisable->isChecked() && !f->rbLedEnable->isChecked());
        QVERIFY(f->rbEdidDn->isChecked() && !f->rbEdidMid->isChecked());
        QVERIFY(f->rbAudioUp->isChecked() && !f->rbAudioMid->isChecked());
        QVERIFY(f->rbHtpcEnable->isChecked());
        QVERIFY(f->cbEnableGui->isChecked());
        for (QAbstractButton* b : modeButtons(f)) {
            QVERIFY(b->isEnabled());
        }

        QVERIFY(window->pollTimerActive());
        const auto timers = timersOf(window.get());
        QCOMPARE(timers.size(), 1);
        QCOMPARE(timers[0].timerId, window->pollTimerId());
        QCOMPARE(timers[0].interval, 3000);

        QCOMPARE(statusTexts(f),
                 (QStringList{"Input : 3840x2160p60", "Encryption: HDCP 2.2",
                              "Color: YCbCr 4:2:0 Extended ITU-R BT.2020",
                              "Source: Tellux Media Player", "HDR:  SMPTE ST 2084",
                              "Input Deep Color: 10-bit", "Audio: L-PCM 48kHz 2.0ch 24bit"}));
    }

    void tickRefreshesControlsAndStatus() {
        Panel panel;
        panel.box.useUhdHdrInput();
        auto window = start(panel);
        Ui::LumoraForm* f = window->form();
        QVERIFY(f->rbLedDisable->isChecked());

        // The box changes behind the panel's back, and its input goes away.
        panel.box.settings[0] = 1;
        panel.box.blocks[11] = {0x00, 0x00, 0x00, 0x00, 0x80};
        panel.driver.clearCalls();
        tick(*window);
        QVERIFY(f->rbLedEnable->isChecked());
        QCOMPARE(statusTexts(f), QStringList(QList<QString>(7, QString())));
        QCOMPARE(panel.driver.writtenFrames().front(), (Frame{0x11, 0x16, 0xE1}));
        QCOMPARE(panel.driver.writtenFrames().size(), size_t(5)); // no audio block without input
    }

    void markupFromSourceShowsLiterally() {
        Panel panel;
        // A source may send any bytes; 0xE9 is Latin-1 e-acute.
        panel.box.useUhdHdrInput("<b>x</b>", "<i>Caf\xE9</i>");
        auto window = start(panel);
        QLabel* source = window->form()->lblVideoSource;
        QCOMPARE(source->text(), QString("Source: <b>x</b> <i>Caf") + QChar(0xE9) + "</i>");
        QCOMPARE(source->textFormat(), Qt::PlainText);
    }

    // Each click: the frame sent, the confirmation and the one settings byte recorded.
    void clickWritesSetting_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("byte");    // settings byte preset in the box, and recorded
        QTest::addColumn<int>("initial"); // its value before the click
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("text"); // empty: no confirmation
        auto row = [](const char* name, const char* c, int b, int i, int r, int v, const char* t) {
            QTest::newRow(name) << QString(c) << b << i << r << v << QString(t);
        };
        row("led off", "rbLedDisable", 0, 1, 0x00, 0, "Logo LED OFF");
        row("led on", "rbLedEnable", 0, 0, 0x00, 1, "Logo LED ON");
        row("frame 1080", "rbFrame1080", 1, 0, 0x01, 1, "Audio Frame 1080p");
        row("frame 720", "rbFrame720", 1, 1, 0x01, 0, "Audio Frame 720p");
        row("hdcp 1.4", "rbEnc14", 2, 0, 0x02, 1, "HDCP 1.4");
        row("hdcp follow", "rbEncFollow", 2, 1, 0x02, 0, "HDCP Follow");
        row("htpc on", "rbHtpcEnable", 10, 0, 0x11, 1, "HTPC Enabled");
        row("htpc off", "rbHtpcDisable", 10, 1, 0x11, 0, "HTPC Disabled");
        row("mute on", "rbHdmiAudioEnable", 11, 0, 0x12, 1, "HDMI AUDIO MUTE Enabled");
        row("mute off", "rbHdmiAudioDisable", 11, 1, 0x12, 0, "HDMI AUDIO MUTE Disabled");
        row("edid up", "rbEdidUp", 5, 1, 0x05, 3, "EDID 4k60 HDR selected");
        row("edid mid", "rbEdidMid", 5, 3, 0x05, 1, "EDID AUTOMIX selected");
        row("edid dn", "rbEdidDn", 5, 1, 0x05, 2, "EDID 4k60 SDR selected");
        row("audio up", "rbAudioUp", 6, 1, 0x06, 3, "AUDIO FULL selected");
        row("audio mid", "rbAudioMid", 6, 2, 0x06, 1, "AUDIO AUTOMIX selected");
        row("audio dn", "rbAudioDn", 6, 1, 0x06, 2, "AUDIO STEREO selected");
        row("gui off", "cbEnableGui", 4, 1, 0x04, 0, "GUI Control Disabled");
        row("gui on", "cbEnableGui", 4, 0, 0x04, 1, "GUI Control Enabled");
        row("hpd", "pbHpd", -1, 0, 0x0A, 1, "HPD sent");
    }
    void clickWritesSetting() {
        QFETCH(QString, control);
        QFETCH(int, byte);
        QFETCH(int, initial);
        QFETCH(int, reg);
        QFETCH(int, value);
        QFETCH(QString, text);
        Panel panel;
        panel.box.settings[4] = 1; // the mode buttons are clickable only under GUI control
        if (byte >= 0) {
            panel.box.settings[size_t(byte)] = std::uint8_t(initial);
        }
        auto window = start(panel);
        auto mirror = window->settingsMirror();
        auto* button = window->findChild<QAbstractButton*>(control);
        QVERIFY(button && button->isEnabled());
        panel.driver.clearCalls();
        panel.status.shown.clear();

        click(*window, button);

        QCOMPARE(panel.driver.writtenFrames(),
                 (std::vector<Frame>{{0x10, 0x04, 0xE0, std::uint8_t(reg), std::uint8_t(value)}}));
        if (byte >= 0) {
            mirror[size_t(byte)] = std::uint8_t(value);
        }
        QCOMPARE(window->settingsMirror(), mirror);
        if (text.isEmpty()) {
            QVERIFY(panel.status.shown.empty());
            QCOMPARE(window->statusBar()->currentMessage(), QString());
        } else {
            QCOMPARE(panel.status.shown, (std::vector<ShownStatus>{{text.toStdString(), 2000}}));
            QCOMPARE(window->statusBar()->currentMessage(), text);
        }
        if (control == "cbEnableGui") {
            for (QAbstractButton* b : modeButtons(window->form())) {
                QCOMPARE(b->isEnabled(), value == 1);
            }
        }
    }

    // Nothing read from a box: no setting claimed or clickable; no smaller than the form.
    void withoutABoxTheControlsClaimNothing() {
        Panel panel(false);
        auto window = start(panel);
        QCOMPARE(window->minimumSize(), QSize(350, 400));
        const auto settings = window->form()->centralwidget->findChildren<QAbstractButton*>(
            QRegularExpression("^(rb|cb|pb)"));
        QCOMPARE(settings.size(), 18);
        QVERIFY(std::none_of(settings.begin(), settings.end(),
                             [](auto* b) { return b->isEnabled() || b->isChecked(); }));
    }

    void refusedWriteLeavesMirrorAlone() {
        Panel panel;
        panel.box.settings[0] = 1;
        panel.box.settings[4] = 1;
        auto window = start(panel);
        Ui::LumoraForm* f = window->form();
        const auto mirror = window->settingsMirror();
        panel.box.refuseWrites = true;
        panel.status.shown.clear();

        click(*window, f->rbLedDisable);
        click(*window, f->cbEnableGui); // unchecks; the box refuses
        QCOMPARE(window->settingsMirror(), mirror);
        QCOMPARE(panel.status.shown, (std::vector<ShownStatus>{{"TELMAR not connected", 4000},
                                                               {"TELMAR not connected", 4000}}));
        // A refused click does not leave the controls saying what the box did not take.
        QVERIFY(f->rbLedEnable->isChecked());
        QVERIFY(f->cbEnableGui->isChecked());
        for (QAbstractButton* b : modeButtons(f)) {
            QVERIFY(b->isEnabled());
        }
        tick(*window);
        QVERIFY(f->rbLedEnable->isChecked());
        QVERIFY(f->cbEnableGui->isChecked());
    }

    void clickWithNoModeCheckedWritesNothing() {
        Panel panel;
        panel.box.settings[4] = 1;
        auto window = start(panel);
        Ui::LumoraForm* f = window->form();
        f->buttonGroup_4->setExclusive(false);
        for (QAbstractButton* b : {f->rbEdidUp, f->rbEdidMid, f->rbEdidDn}) {
            b->setAutoExclusive(false);
            b->setChecked(false);
        }
        panel.driver.clearCalls();
        QMetaObject::invokeMethod(window.get(), "setEdidMode");
        settle(*window);
        QVERIFY(panel.driver.calls().empty());
    }

    // One settings byte against the controls after a sync; the byte first holds a
    // value that checks the partner, so the sync has to move the pair.
    void sync_data() {
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("unchecked");
        QTest::newRow("hdcp 5") << 2 << 0 << 5 << "rbEnc14"
                                << "rbEncFollow";
        QTest::newRow("hdcp 0") << 2 << 1 << 0 << "rbEncFollow"
                                << "rbEnc14";
        QTest::newRow("led 2") << 0 << 1 << 2 << "rbLedDisable"
                               << "rbLedEnable";
        QTest::newRow("led 1") << 0 << 0 << 1 << "rbLedEnable"
                               << "rbLedDisable";
        QTest::newRow("frame 7") << 1 << 0 << 7 << "rbFrame1080"
                                 << "rbFrame720";
        QTest::newRow("htpc 0") << 10 << 1 << 0 << "rbHtpcDisable"
                                << "rbHtpcEnable";
        QTest::newRow("mute 1") << 11 << 0 << 1 << "rbHdmiAudioEnable"
                                << "rbHdmiAudioDisable";
        QTest::newRow("mute 4") << 11 << 1 << 4 << "rbHdmiAudioDisable"
                                << "rbHdmiAudioEnable";
        QTest::newRow("edid 3") << 5 << 2 << 3 << "rbEdidUp"
                                << "rbEdidDn";
        // Unknown modes leave the buttons as the last known mode set them.
        QTest::newRow("edid 0") << 5 << 2 << 0 << "rbEdidDn"
                                << "rbEdidMid";
        QTest::newRow("edid 4") << 5 << 2 << 4 << "rbEdidDn"
                                << "rbEdidMid";
        QTest::newRow("audio 1") << 6 << 2 << 1 << "rbAudioMid"
                                 << "rbAudioDn";
        QTest::newRow("audio 9") << 6 << 2 << 9 << "rbAudioDn"
                                 << "rbAudioMid";
    }
    void sync() {
        QFETCH(int, byte);
        QFETCH(int, before);
        QFETCH(int, value);
        QFETCH(QString, checked);
        QFETCH(QString, unchecked);
        Panel panel;
        panel.box.settings[size_t(byte)] = std::uint8_t(before);
        auto window = start(panel);
        panel.box.settings[size_t(byte)] = std::uint8_t(value);
        panel.driver.clearCalls();
        panel.status.shown.clear();

        tick(*window);

        QVERIFY2(window->findChild<QAbstractButton*>(checked)->isChecked(), qPrintable(checked));
        QVERIFY(!window->findChild<QAbstractButton*>(unchecked)->isChecked());
        QCOMPARE(window->settingsMirror(), panel.box.settings);
        QVERIFY(!anyWrite(panel.driver.writtenFrames()));
        QVERIFY(panel.status.shown.empty());
    }

    void syncGuiControl() {
        Panel panel;
        auto window = start(panel);
        Ui::LumoraForm* f = window->form();
        for (int on : {1, 0, 1}) {
            panel.box.settings[4] = std::uint8_t(on);
            tick(*window);
            QCOMPARE(f->cbEnableGui->isChecked(), on == 1);
            for (QAbstractButton* b : modeButtons(f)) {
                QCOMPARE(b->isEnabled(), on == 1);
            }
        }
        QVERIFY(!anyWrite(panel.driver.writtenFrames()));
    }

    void failedSettingsReadChangesNothing() {
        Panel panel;
        panel.box.settings[0] = 1;
        auto window = start(panel);
        const auto mirror = window->settingsMirror();
        panel.box.settings[0] = 0;
        panel.driver.queueReply({0xE0, 0x00, 0x00}); // wrong echo for the settings read
        panel.status.shown.clear();
        tick(*window);
        QCOMPARE(window->settingsMirror(), mirror);
        QVERIFY(window->form()->rbLedEnable->isChecked());
        QCOMPARE(panel.status.shown.front(), (ShownStatus{"Error Reading values", 4000}));
    }

    // A box shown inside an exchange runs a nested event loop; a tick delivered there
    // must not start a second exchange.
    void tickDuringExchangeDoesNothing() {
        Panel panel;
        auto window = start(panel);
        bool ticked = false;
        size_t callsBefore = 0;
        size_t callsAfter = 0;
        panel.recorder.onLinkWarning = [&] {
            QVERIFY(window->link().linkBusy());
            callsBefore = panel.driver.writtenFrames().size();
            tickNow(*window);
            callsAfter = panel.driver.writtenFrames().size();
            ticked = true;
        };
        panel.driver.failCall(Call::CheckRxQueue);
        click(*window, window->form()->pbHpd);
        QVERIFY(ticked);
        QCOMPARE(callsAfter, callsBefore);

        // The same tick outside an exchange does read the box.
        panel.recorder.onLinkWarning = nullptr;
        const size_t before = panel.driver.calls().size();
        tick(*window);
        QVERIFY(panel.driver.calls().size() > before);
    }

    void pollTimerStartsOnce() {
        Panel panel;
        auto window = start(panel);
        const int id = window->pollTimerId();
        window->startPollTimer(3000);
        QCOMPARE(window->pollTimerId(), id);
        QCOMPARE(timersOf(window.get()).size(), 1);
        window->stopPollTimer();
        QVERIFY(!window->pollTimerActive());
        QVERIFY(timersOf(window.get()).isEmpty());
        window->stopPollTimer();
        QVERIFY(timersOf(window.get()).isEmpty());
        window->startPollTimer(3000);
        QCOMPARE(timersOf(window.get()).size(), 1);
    }

    void progress_data() {
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<bool>("shown");
        QTest::newRow("5,100") << 5 << 100 << true;
        QTest::newRow("0,100") << 0 << 100 << false;
        QTest::newRow("5,0") << 5 << 0 << false;
        QTest::newRow("-1,10") << -1 << 10 << false;
    }
    void progress() {
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(bool, shown);
        Panel panel(false);
        auto window = start(panel);
        QProgressBar* bar = window->progress();
        QVERIFY(bar->isHidden());
        window->on_ProgressChange(7, 50); // shown before, so hiding is seen
        QVERIFY(!bar->isHidden());
        window->on_ProgressChange(a, b);
        QCOMPARE(!bar->isHidden(), shown);
        if (shown) {
            QCOMPARE(bar->minimum(), 0);
            QCOMPARE(bar->maximum(), b);
            QCOMPARE(bar->value(), a);
        }
    }

    void closeClosesDeviceOnce() {
        Panel panel;
        auto window = start(panel);
        QVERIFY(window->close());
        QCOMPARE(panel.callCount(Call::Close), 1);
        QCOMPARE(panel.driver.openHandles(), 0);
        QVERIFY(!window->pollTimerActive());
        QVERIFY(timersOf(window.get()).isEmpty());
        QVERIFY(window->form() == nullptr);
        // Late clicks and ticks after the close touch nothing.
        panel.driver.clearCalls();
        tick(*window);
        window->findChild<QAbstractButton*>("rbLedDisable")->click();
        QVERIFY(panel.driver.calls().empty());
        window.reset();
        QCOMPARE(panel.callCount(Call::Close), 0);
        QVERIFY(panel.exitCodes.empty());
    }

    void fileExitEndsAtOnce() {
        Panel panel;
        QPointer<MainWindow> window = new MainWindow(panel.services());
        settle(*window);
        window->form()->actionExit->trigger();
        QCOMPARE(panel.exitCodes, std::vector<int>{0});
        QVERIFY(window.isNull());
        QCOMPARE(panel.callCount(Call::Close), 1);
        QCOMPARE(panel.driver.openHandles(), 0);
    }

    void destructorClosesDevice() {
        Panel panel;
        auto window = start(panel);
        window.reset();
        QCOMPARE(panel.callCount(Call::Close), 1);
        QCOMPARE(panel.driver.openHandles(), 0);
    }

    void about() {
        Panel panel(false);
        auto window = start(panel);
        panel.recorder.boxes.clear();
        window->form()->actionAbout->trigger();
        QCOMPARE(panel.recorder.boxes.size(), size_t(1));
        const auto& box = panel.recorder.boxes[0];
        QCOMPARE(box.kind, QString("about"));
        QCOMPARE(box.parent, window.get());
        QVERIFY(box.title.contains("LUMORA_GUI"));
        QVERIFY(box.text.contains(QString("LUMORA_GUI version ") + TELMAR_VERSION));
        QVERIFY(box.text.contains("TELMAR"));
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
