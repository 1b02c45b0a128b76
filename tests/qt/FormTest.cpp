// SPDX-License-Identifier: MIT
#include "ui_LumoraForm.h"

#include <QtTest/QtTest>

// Hosts the form like the real window does, with slots of the same names that
// only record which one ran.
class FormHost : public QMainWindow {
    Q_OBJECT

  public:
    QStringList ran;

  public slots:
    void on_ProgressChange(int, int) { ran << "on_ProgressChange"; }
    void FileExit() { ran << "FileExit"; }
    void FileAbout() { ran << "FileAbout"; }
    void setLogoLed() { ran << "setLogoLed"; }
    void setAudioFrame() { ran << "setAudioFrame"; }
    void setHdcpVersion() { ran << "setHdcpVersion"; }
    void setHpd() { ran << "setHpd"; }
    void setHtpc() { ran << "setHtpc"; }
    void setGuiEnable() { ran << "setGuiEnable"; }
    void setEdidMode() { ran << "setEdidMode"; }
    void setAudioMode() { ran << "setAudioMode"; }
    void setHdmiAudioMute() { ran << "setHdmiAudioMute"; }
};

class FormTest : public QObject {
    Q_OBJECT

    FormHost* host = nullptr;
    Ui::LumoraForm* form = nullptr;

    template <class T = QObject> T* member(const QString& name) {
        return host->findChild<T*>(name);
    }

  private slots:
    void init() {
        host = new FormHost;
        form = new Ui::LumoraForm;
        form->setupUi(host);
    }
    void cleanup() {
        delete form;
        delete host;
    }

    void window() {
        QCOMPARE(host->objectName(), QString("MainWindow"));
        QCOMPARE(host->size(), QSize(350, 400));
        QCOMPARE(host->maximumSize(), QSize(3500, 3700));
        QCOMPARE(host->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(host->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(host->windowTitle(), QString("TELMAR GUI"));
        QVERIFY(!host->windowIcon().isNull());
        QCOMPARE(host->centralWidget(), form->centralwidget);
        QCOMPARE(host->menuBar(), form->menubar);
        QCOMPARE(host->statusBar(), form->statusbar);
        QCOMPARE(form->menubar->geometry(), QRect(0, 0, 350, 21));
        QCOMPARE(form->tabWidget->currentIndex(), 0);
        QCOMPARE(form->tabWidget->count(), 2);
        QCOMPARE(form->tabWidget->widget(0), form->tab);
        QCOMPARE(form->tabWidget->widget(1), form->tab_2);
        QCOMPARE(form->tabWidget->tabText(0), QString("EDID/AUDIO"));
        QCOMPARE(form->tabWidget->tabText(1), QString("CONTROL"));
    }

    void resources() {
        for (const char* path :
             {":/QT/forms/LumoraForm.ui", ":/telmar.png", ":/telmar_64.png", ":/logoblue64.png",
              ":/telmar_32.png", ":/logo2_80.png", ":/logo2_64.png", ":/logo2-32.jpg",
              ":/logo2-48.jpg", ":/logo3.ico", ":/telmar_256.ico"}) {
            QVERIFY2(QFile::exists(path), path);
        }
        QVERIFY(!QImage(":/logo2_80.png").isNull());
        QVERIFY(!QImage(":/logo2-48.jpg").isNull());
        QVERIFY(!QImage(":/logoblue64.png").isNull());
    }

    void members_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("cls");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry"); // null: not placed
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pointSize"); // -1: default font
        const QRect none;
        auto row = [](const char* n, const char* c, const char* p, QRect g, const char* t,
                      int pt = -1) {
            QTest::newRow(n) << QString(n) << QString(c) << QString(p) << g << QString(t) << pt;
        };
        row("actionExit", "QAction", "MainWindow", none, "Exit");
        row("actionAbout", "QAction", "MainWindow", none, "About");
        row("centralwidget", "QWidget", "MainWindow", none, "");
        row("labelFw", "QLabel", "centralwidget", {260, 7, 81, 20}, "ver: ");
        row("labelTitle", "QLabel", "centralwidget", {100, 5, 156, 19}, "TELMAR GUI", 12);
        row("labelLogo", "QLabel", "centralwidget", {6, 5, 86, 76},
            "<html><head/><body><p><img src=\":/logo2_80.png\"/></p></body></html>", 12);
        row("lblWarning", "QLabel", "centralwidget", {100, 20, 216, 20}, "warning");
        row("tabWidget", "QTabWidget", "centralwidget", {10, 150, 336, 196}, "");
        row("rbAudioDn", "QRadioButton", "tab", {65, 140, 251, 17},
            "AUDIO DN:  Only offer L/R audio");
        row("rbEdidUp", "QRadioButton", "tab", {35, 35, 251, 17},
            "EDID UP: 4K60 600MHz HLG/HDR10+");
        row("cbEnableGui", "QCheckBox", "tab", {5, 10, 311, 17},
            "Enable GUI control / TELMAR slide switches become disabled");
        row("rbAudioMid", "QRadioButton", "tab", {65, 120, 251, 17},
            "AUDIO MID: BOT video + TOP audio");
        row("rbAudioUp", "QRadioButton", "tab", {65, 100, 251, 17},
            "AUDIO UP: Force all audio formats");
        row("rbEdidDn", "QRadioButton", "tab", {35, 75, 296, 17}, "EDID DN: 4K60 600MHz SDR");
        row("rbEdidMid", "QRadioButton", "tab", {35, 55, 291, 17},
            "EDID MID: BOT out sink EDID mode");
        row("pbHpd", "QPushButton", "tab_2", {240, 125, 75, 23}, "HPD");
        row("rbLedDisable", "QRadioButton", "tab_2", {240, 10, 91, 17}, "DISABLE", 10);
        row("label_6", "QLabel", "tab_2", {0, 50, 126, 16}, "BOT HDCP VERSION:", 10);
        row("rbEnc14", "QRadioButton", "tab_2", {240, 50, 71, 17}, "1.4", 10);
        row("rbFrame720", "QRadioButton", "tab_2", {145, 30, 76, 17}, "720p60", 10);
        row("rbEncFollow", "QRadioButton", "tab_2", {145, 50, 81, 17}, "FOLLOW", 10);
        row("rbFrame1080", "QRadioButton", "tab_2", {240, 30, 81, 17}, "1080p60", 10);
        row("label_26", "QLabel", "tab_2", {0, 30, 126, 16}, "TOP AUDIO FRAME:", 9);
        row("label_23", "QLabel", "tab_2", {45, 10, 81, 16}, "LOGO LED:", 9);
        row("label_25", "QLabel", "tab_2", {45, 125, 81, 16}, "HPD/RESET:", 9);
        row("rbLedEnable", "QRadioButton", "tab_2", {145, 10, 66, 17}, "ENABLE", 10);
        row("label_7", "QLabel", "tab_2", {0, 70, 126, 16}, "HTPC MODE", 10);
        row("rbHtpcEnable", "QRadioButton", "tab_2", {145, 70, 81, 17}, "ENABLE", 10);
        row("rbHtpcDisable", "QRadioButton", "tab_2", {240, 70, 71, 17}, "DISABLE", 10);
        row("label_8", "QLabel", "tab_2", {0, 90, 126, 16}, "MUTE HDMI AUDIO", 10);
        row("rbHdmiAudioDisable", "QRadioButton", "tab_2", {240, 90, 71, 17}, "DISABLE", 10);
        row("rbHdmiAudioEnable", "QRadioButton", "tab_2", {145, 90, 81, 17}, "ENABLE", 10);
        row("lblVideoSource", "QLabel", "centralwidget", {100, 35, 241, 16}, "Video Source:");
        row("label_video_format", "QLabel", "centralwidget", {100, 50, 241, 16}, "Video Format");
        row("lblColor", "QLabel", "centralwidget", {100, 65, 241, 16}, "Color Space");
        row("lblHdr", "QLabel", "centralwidget", {100, 110, 241, 16}, "HDR Input:");
        row("lblHdcp", "QLabel", "centralwidget", {100, 95, 241, 16}, "HDCP:");
        row("lblDeepC", "QLabel", "centralwidget", {100, 80, 241, 16}, "Deep Color:");
        row("lblAudio", "QLabel", "centralwidget", {100, 125, 241, 16}, "Audio:");
        row("menubar", "QMenuBar", "MainWindow", {0, 0, 350, 21}, "");
        row("menuFile", "QMenu", "menubar", none, "File");
        row("menuHelp", "QMenu", "menubar", none, "Help");
        row("statusbar", "QStatusBar", "MainWindow", none, "");
        for (const char* g : {"buttonGroup_2", "buttonGroup_3", "buttonGroup_4", "buttonGroup_5",
                              "buttonGroup_6", "buttonGroup"}) {
            row(g, "QButtonGroup", "MainWindow", none, "");
        }
    }
    void members() {
        QFETCH(QString, name);
        QFETCH(QString, cls);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(int, pointSize);
        QObject* object = member(name);
        QVERIFY2(object != nullptr, qPrintable(name));
        QCOMPARE(QString(object->metaObject()->className()), cls);
        QCOMPARE(host->findChildren<QObject*>(name).size(), 1);

        // Tab pages sit in the tab widget's stack; every other member under its parent.
        QObject* actualParent = object->parent();
        if (auto* w = qobject_cast<QWidget*>(object); w && (parent == "tab" || parent == "tab_2")) {
            actualParent = w->parentWidget();
        }
        QVERIFY(actualParent != nullptr);
        QCOMPARE(actualParent->objectName(), parent);

        if (auto* widget = qobject_cast<QWidget*>(object); widget && !geometry.isNull()) {
            QCOMPARE(widget->geometry(), geometry);
        }
        if (auto* widget = qobject_cast<QWidget*>(object)) {
            QVERIFY(widget->isEnabled());
            if (pointSize > 0) {
                QCOMPARE(widget->font().pointSize(), pointSize);
            } else {
                QVERIFY(!widget->testAttribute(Qt::WA_SetFont));
            }
            QCOMPARE(widget->font().bold(), name == "labelTitle" || name == "labelLogo");
        }
        if (auto* label = qobject_cast<QLabel*>(object)) {
            QCOMPARE(label->text(), text);
        } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
            QCOMPARE(button->text(), text);
        } else if (auto* action = qobject_cast<QAction*>(object)) {
            QCOMPARE(action->text(), text);
        } else if (auto* menu = qobject_cast<QMenu*>(object)) {
            QCOMPARE(menu->title(), text);
        }
    }

    void formPointersAreTheMembers() {
        const QList<QPair<QObject*, const char*>> pointers{
            {form->labelFw, "labelFw"},         {form->lblWarning, "lblWarning"},
            {form->rbEdidMid, "rbEdidMid"},     {form->rbHdmiAudioEnable, "rbHdmiAudioEnable"},
            {form->lblAudio, "lblAudio"},       {form->buttonGroup, "buttonGroup"},
            {form->actionAbout, "actionAbout"}, {form->tab_2, "tab_2"}};
        for (const auto& [pointer, name] : pointers) {
            QCOMPARE(pointer, member(name));
        }
    }

    void alignmentsAndTextFormats() {
        QCOMPARE(form->labelTitle->alignment(), Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
        for (QLabel* caption : {form->label_6, form->label_26, form->label_23, form->label_25,
                                form->label_7, form->label_8}) {
            QCOMPARE(caption->alignment(), Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
        }
        // The status labels show what a source sends, so they never interpret markup.
        for (QLabel* status : {form->lblVideoSource, form->label_video_format, form->lblColor,
                               form->lblHdr, form->lblHdcp, form->lblDeepC, form->lblAudio}) {
            QCOMPARE(status->textFormat(), Qt::PlainText);
        }
        QCOMPARE(form->labelLogo->textFormat(), Qt::AutoText);
        QCOMPARE(form->labelTitle->font().weight(), QFont::Bold);
    }

    void buttonGroups_data() {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("led") << "buttonGroup" << QStringList{"rbLedDisable", "rbLedEnable"};
        QTest::newRow("frame") << "buttonGroup_2" << QStringList{"rbFrame720", "rbFrame1080"};
        QTest::newRow("hdcp") << "buttonGroup_3" << QStringList{"rbEnc14", "rbEncFollow"};
        QTest::newRow("edid") << "buttonGroup_4"
                              << QStringList{"rbEdidUp", "rbEdidDn", "rbEdidMid"};
        QTest::newRow("audio") << "buttonGroup_5"
                               << QStringList{"rbAudioDn", "rbAudioMid", "rbAudioUp"};
        QTest::newRow("htpc") << "buttonGroup_6" << QStringList{"rbHtpcEnable", "rbHtpcDisable"};
    }
    void buttonGroups() {
        QFETCH(QString, group);
        QFETCH(QStringList, buttons);
        auto* g = member<QButtonGroup>(group);
        QVERIFY(g != nullptr);
        QVERIFY(g->exclusive());
        QStringList names;
        for (QAbstractButton* b : g->buttons()) {
            names << b->objectName();
        }
        QCOMPARE(names, buttons);
    }

    void hdmiAudioPairIsUngroupedButExclusive() {
        QVERIFY(form->rbHdmiAudioEnable->group() == nullptr);
        QVERIFY(form->rbHdmiAudioDisable->group() == nullptr);
        form->rbHdmiAudioDisable->click();
        QVERIFY(form->rbHdmiAudioDisable->isChecked());
        QVERIFY(!form->rbHdmiAudioEnable->isChecked());
    }

    void initialCheckStates() {
        const QStringList checked{"rbEdidMid",   "rbAudioMid",   "rbLedEnable",      "rbFrame720",
                                  "rbEncFollow", "rbHtpcEnable", "rbHdmiAudioEnable"};
        for (QAbstractButton* b : host->findChildren<QAbstractButton*>()) {
            const QString name = b->objectName();
            if (!name.startsWith("rb") && !name.startsWith("cb")) {
                continue;
            }
            QCOMPARE(b->isChecked(), checked.contains(b->objectName()));
            QVERIFY(b->autoExclusive() || b->objectName() == "cbEnableGui");
        }
    }

    void focusOrder() {
        const QList<QWidget*> chain{form->rbEncFollow, form->rbEnc14,  form->rbEdidMid,
                                    form->rbEdidUp,    form->rbEdidDn, form->rbLedEnable,
                                    form->rbLedDisable};
        for (int i = 0; i + 1 < chain.size(); ++i) {
            QCOMPARE(chain[i]->nextInFocusChain(), chain[i + 1]);
        }
    }

    void stacking() {
        // Children later in the list are raised later, so lie on top.
        const QStringList order{"labelTitle",
                                "labelLogo",
                                "labelFw",
                                "lblWarning",
                                "tabWidget",
                                "lblVideoSource",
                                "label_video_format",
                                "lblColor",
                                "lblHdr",
                                "lblHdcp",
                                "lblDeepC",
                                "lblAudio"};
        QStringList children;
        for (QObject* child : form->centralwidget->children()) {
            if (order.contains(child->objectName())) {
                children << child->objectName();
            }
        }
        QCOMPARE(children, order);
    }

    void menus() {
        const QList<QAction*> bar = form->menubar->actions();
        QCOMPARE(bar.size(), 2);
        QCOMPARE(bar[0], form->menuFile->menuAction());
        QCOMPARE(bar[1], form->menuHelp->menuAction());
        QCOMPARE(form->menuFile->actions(), QList<QAction*>{form->actionExit});
        QCOMPARE(form->menuHelp->actions(), QList<QAction*>{form->actionAbout});
    }

    // Each control runs exactly its own slot, once per click; code-set states run none.
    void connections_data() {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("slot");
        const QList<QPair<const char*, const char*>> rows{
            {"actionExit", "FileExit"},
            {"actionAbout", "FileAbout"},
            {"rbLedEnable", "setLogoLed"},
            {"rbLedDisable", "setLogoLed"},
            {"rbFrame720", "setAudioFrame"},
            {"rbFrame1080", "setAudioFrame"},
            {"rbEncFollow", "setHdcpVersion"},
            {"rbEnc14", "setHdcpVersion"},
            {"cbEnableGui", "setGuiEnable"},
            {"pbHpd", "setHpd"},
            {"rbEdidUp", "setEdidMode"},
            {"rbEdidMid", "setEdidMode"},
            {"rbEdidDn", "setEdidMode"},
            {"rbAudioUp", "setAudioMode"},
            {"rbAudioMid", "setAudioMode"},
            {"rbAudioDn", "setAudioMode"},
            {"rbHtpcEnable", "setHtpc"},
            {"rbHtpcDisable", "setHtpc"},
            {"rbHdmiAudioEnable", "setHdmiAudioMute"},
            {"rbHdmiAudioDisable", "setHdmiAudioMute"}};
        for (const auto& [sender, slot] : rows) {
            QTest::newRow(sender) << QString(sender) << QString(slot);
        }
    }
    void connections() {
        QFETCH(QString, sender);
        QFETCH(QString, slot);
        QObject* object = member(sender);
        if (auto* action = qobject_cast<QAction*>(object)) {
            action->trigger();
        } else {
            auto* button = qobject_cast<QAbstractButton*>(object);
            QVERIFY(button != nullptr);
            button->setChecked(!button->isChecked());
            QCOMPARE(host->ran, QStringList{});
            button->click();
            button->click(); // an already checked button runs its slot again
        }
        const int expected = qobject_cast<QAction*>(object) ? 1 : 2;
        QCOMPARE(host->ran, QStringList(QList<QString>(expected, slot)));
    }
};

QTEST_MAIN(FormTest)
#include "FormTest.moc"
