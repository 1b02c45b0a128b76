// SPDX-License-Identifier: MIT
#include "win32/FormTable.h"

#include "ui_LumoraForm.h"

#include <QtTest/QtTest>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using telmar::win32::FormControl;
using telmar::win32::FormTable;

// The native styles the table must carry (values of the Windows headers).
constexpr std::uint32_t kTypeMask = 0x1F;
constexpr std::uint32_t kWsGroup = 0x00020000;
constexpr std::uint32_t kSsBitmap = 0x0E;
constexpr std::uint32_t kBsPushButton = 0x0, kBsAutoCheckBox = 0x3, kBsAutoRadioButton = 0x9;

QString qt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

// The table the Win32 shell is built from, against the form Qt's uic compiles from the
// same Designer file: every control's class, place, size, text, font, check state and
// group, and the pages.
class FormTableTest : public QObject {
    Q_OBJECT

    QMainWindow host;
    Ui::LumoraForm form;
    FormTable table;
    std::string tableText;

    // The form names slots the bare host lacks; those warnings say nothing here.
    static void quiet(QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (!message.startsWith("QObject::connect")) {
            QTextStream(stderr) << type << ": " << message << '\n';
        }
    }

    // Radio button -> its Qt button group; ungrouped ones by their parent.
    std::map<QString, QString> radioGroups() {
        std::map<QString, QString> groupOf;
        for (QRadioButton* b : host.findChildren<QRadioButton*>()) {
            groupOf[b->objectName()] = b->group() != nullptr
                                           ? b->group()->objectName()
                                           : "(" + b->parentWidget()->objectName() + ")";
        }
        return groupOf;
    }

  private slots:
    void initTestCase() {
        qInstallMessageHandler(quiet);
        form.setupUi(&host);
        std::ifstream in(TELMAR_FORM_TABLE, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        tableText = text.str();
        auto parsed = telmar::win32::parseFormTable(tableText, error);
        QVERIFY2(parsed.has_value(), error.c_str());
        table = std::move(*parsed);
    }

    // A record that does not parse names its line, even with a good table after it.
    void badRecordsAreRefused() {
        const std::size_t at = tableText.find("\ncontrol\t") + 1;
        const QStringList control =
            qt(tableText.substr(at, tableText.find('\n', at) - at)).split('\t');
        const auto withField = [&](int k, const QString& value) {
            QStringList f = control;
            f[k] = value;
            return f.join('\t').toStdString();
        };
        const std::string bad[] = {"page\tx\tp\tPage",       "action\t4x\tactionExit",
                                   "window\t1\t2\t3\t4\t5",  "control\t1\tQLabel",
                                   withField(4, "54030000"), withField(13, "2")};
        for (const std::string& line : bad) {
            std::string error;
            QVERIFY2(!telmar::win32::parseFormTable(line + "\n" + tableText, error), line.c_str());
            QCOMPARE(qt(error), QStringLiteral("form table line 1 is malformed"));
        }
    }

    void window() {
        QCOMPARE(qt(table.windowName), host.objectName());
        QCOMPARE(qt(table.title), host.windowTitle());
        QCOMPARE(QSize(table.width, table.height), host.size());
        QCOMPARE(QSize(table.maxWidth, table.maxHeight), host.maximumSize());
        QCOMPARE(int(table.pages.size()), form.tabWidget->count());
        for (const auto& page : table.pages) {
            QCOMPARE(qt(page.name), form.tabWidget->widget(page.index)->objectName());
            QCOMPARE(qt(page.title), form.tabWidget->tabText(page.index));
        }
        QCOMPARE(qt(table.statusBarName), form.statusbar->objectName());
    }

    // One row per label, button and tab widget of the form, and no other.
    void everyControlOnce() {
        QStringList inForm;
        const QList<QWidget*> parents{form.centralwidget, form.tab, form.tab_2};
        for (QWidget* w : form.centralwidget->findChildren<QWidget*>()) {
            // The tab widget's own scroll buttons are not the form's.
            if (!parents.contains(w->parentWidget())) {
                continue;
            }
            if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                qobject_cast<QTabWidget*>(w)) {
                inForm << w->objectName();
            }
        }
        QStringList inTable;
        for (const FormControl& c : table.controls) {
            inTable << qt(c.name);
        }
        inForm.sort();
        inTable.sort();
        QCOMPARE(inTable, inForm);
    }

    void controls() {
        for (const FormControl& c : table.controls) {
            const QString name = qt(c.name);
            auto* w = host.findChild<QWidget*>(name);
            QVERIFY2(w != nullptr, qPrintable(name));
            QCOMPARE(QRect(c.x, c.y, c.width, c.height), w->geometry());
            const QWidget* page = w->parentWidget();
            QCOMPARE(qt(c.parent), page->objectName());
            if (c.points > 0) {
                QCOMPARE(c.points, w->font().pointSize());
            } else {
                QVERIFY2(!w->font().resolveMask() ||
                             !(w->font().resolveMask() & QFont::SizeResolved),
                         qPrintable(name));
            }
            QCOMPARE(c.weight >= 700, w->font().bold());

            const std::uint32_t type = c.style & kTypeMask;
            if (auto* label = qobject_cast<QLabel*>(w)) {
                QCOMPARE(qt(c.className), QString("STATIC"));
                if (type == kSsBitmap) {
                    QVERIFY2(label->text().contains("src=\"" + qt(c.text) + "\""),
                             qPrintable(name));
                } else {
                    QCOMPARE(qt(c.text), label->text());
                }
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                QCOMPARE(qt(c.className), QString("BUTTON"));
                const std::uint32_t wanted = qobject_cast<QRadioButton*>(w) ? kBsAutoRadioButton
                                             : qobject_cast<QCheckBox*>(w)  ? kBsAutoCheckBox
                                                                            : kBsPushButton;
                QCOMPARE(type, wanted);
                QCOMPARE(qt(c.text), button->text());
                QCOMPARE(c.checked, button->isChecked());
            } else {
                QCOMPARE(qt(c.className), QString("SysTabControl32"));
            }
        }
    }

    // A page's tab order is its creation order. It follows Qt's focus chain, except that
    // a radio group is one stop (Win32 needs its buttons side by side), placed where
    // the chain first reaches it, its buttons in chain order.
    void focusOrder() {
        QStringList chain; // Qt's focus chain, buttons only
        QWidget* w = form.rbEncFollow;
        do {
            if (qobject_cast<QAbstractButton*>(w) && !chain.contains(w->objectName())) {
                chain << w->objectName();
            }
            w = w->nextInFocusChain();
        } while (w != form.rbEncFollow);
        const auto groupOf = radioGroups();
        const auto stops = [&](const QStringList& names) {
            QStringList order;
            std::map<QString, QStringList> members;
            for (const QString& name : names) {
                const QString stop = groupOf.count(name) ? groupOf.at(name) : name;
                if (!order.contains(stop)) {
                    order << stop;
                }
                members[stop] << name;
            }
            QStringList flat;
            for (const QString& stop : order) {
                flat << members[stop];
            }
            return flat;
        };
        for (const auto& page : table.pages) {
            QStringList inTable;
            for (const FormControl& c : table.controls) {
                if (c.parent == page.name && chain.contains(qt(c.name))) {
                    inTable << qt(c.name);
                }
            }
            QStringList inChain;
            for (const QString& name : chain) {
                if (inTable.contains(name)) {
                    inChain << name;
                }
            }
            QCOMPARE(stops(inTable), stops(inChain));
        }
    }

    // Win32 radio buttons exclude each other from a WS_GROUP control to the next, so
    // each Qt group (or a parent's ungrouped radio buttons) must be one run of the
    // table that begins with WS_GROUP, and every other control must begin a run.
    void groups() {
        std::map<QString, QString> groupOf = radioGroups();
        QString runGroup;
        QString runParent;
        QStringList closed;
        for (const FormControl& c : table.controls) {
            const QString name = qt(c.name);
            const bool radio = qobject_cast<QRadioButton*>(host.findChild<QWidget*>(name));
            const QString group = !radio                ? QString()
                                  : groupOf.count(name) ? groupOf[name]
                                                        : "(" + qt(c.parent) + ")";
            const bool continues = radio && group == runGroup && qt(c.parent) == runParent;
            QVERIFY2(((c.style & kWsGroup) != 0) == !continues, qPrintable(name));
            if (radio) {
                QCOMPARE(qt(c.group), group);
            }
            if (!continues) {
                QVERIFY2(!closed.contains(group) || group.isEmpty(), qPrintable(group));
                closed << runGroup;
                runGroup = group;
                runParent = qt(c.parent);
            }
        }
    }
};

QTEST_MAIN(FormTableTest)
#include "FormTableTest.moc"
