// SPDX-License-Identifier: MIT
#include "backends/TraceRecorder.h"
#include "qt/ChromaticityView.h"
#include "qt/SignalDetailsWindow.h"
#include "qt/SpeakerView.h"
#include "sim/Scenarios.h"
#include "tests/qt/PanelHarness.h"
#include "tests/support/TempFolder.h"
#include "usb/ForwardingDriver.h"

#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtTest/QtTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QTreeWidget>
#include <fstream>
#include <sstream>

using namespace telmar;
using panel::MainWindow;
using panel::SignalDetailsWindow;
using test::Panel;
using test::settle;
using test::tick;

namespace {

void useScenario(test::FakeBox& box, std::string_view name) {
    const sim::Scenario* scenario = sim::findScenario(name);
    QVERIFY(scenario != nullptr);
    for (std::uint8_t block = 11; block <= 15; ++block) {
        box.blocks[block] = *scenario->block(block);
    }
}

SignalDetailsWindow* openDetails(MainWindow& window) {
    auto* action = window.findChild<QAction*>("actionSignalDetails");
    if (action == nullptr || action->shortcut() != QKeySequence("Ctrl+D")) {
        return nullptr;
    }
    action->trigger();
    return window.signalDetails().window();
}

QTreeWidgetItem* row(SignalDetailsWindow& details, const QString& key) {
    const QString section = key.startsWith("video.")    ? "Video"
                            : key.startsWith("hdr.")    ? "HDR"
                            : key.startsWith("source.") ? "Source"
                                                        : "Audio";
    QTreeWidget* list = details.section(section);
    for (int i = 0; list != nullptr && i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->toolTip(0) == key) {
            return list->topLevelItem(i);
        }
    }
    return nullptr;
}

bool greyed(SignalDetailsWindow& details, QTreeWidgetItem* item) {
    return item->foreground(1).color() ==
           details.palette().color(QPalette::Disabled, QPalette::Text);
}

struct Collect final : backends::EntrySink {
    std::vector<backends::TraceEntry>& out;
    explicit Collect(std::vector<backends::TraceEntry>& o) : out(o) {}
    void take(const backends::TraceEntry& e) override { out.push_back(e); }
};

// Everything the box sees from start-up through polls over changing inputs, stamped on
// the panel's clock.
std::vector<backends::TraceEntry> traffic(bool detailsOpen) {
    Panel panel;
    std::vector<backends::TraceEntry> entries;
    std::vector<std::unique_ptr<backends::EntrySink>> sinks;
    sinks.push_back(std::make_unique<Collect>(entries));
    backends::TraceRecorder recorder(std::make_unique<usb::ForwardingDriver>(panel.driver),
                                     std::move(sinks), [&] { return panel.clock.tickMs(); });
    {
        MainWindow window(panel::PanelServices{
            recorder, panel.clock, panel.recorder, panel.recorder, nullptr, {}});
        settle(window);
        if (detailsOpen && openDetails(window) == nullptr) {
            return {};
        }
        for (const char* scenario : {"1080p60", "4k60-hdr", "no-input", "pcm-5.1-96k"}) {
            useScenario(panel.box, scenario);
            tick(window);
        }
    }
    recorder.flush();
    return entries;
}

} // namespace

class SignalDetailsTest : public QObject {
    Q_OBJECT

  private slots:
    void fillsMarksGreysAndKeepsHistory() {
        Panel panel;
        useScenario(panel.box, "1080p60");
        MainWindow window(panel.services());
        settle(window);
        SignalDetailsWindow* details = openDetails(window);
        QVERIFY(details != nullptr);
        QVERIFY(details->isVisible() && details->isWindow() && !details->isModal());
        QCOMPARE(window.size(), QSize(350, 400));
        QVERIFY(!details->notice()->isVisible());
        // Every row of the core's view, in its order, and nothing else.
        for (const auto& section : window.signalDetails().state().view().sections) {
            QTreeWidget* list = details->section(QString::fromLatin1(section.title));
            QCOMPARE(std::size_t(list->topLevelItemCount()), section.rows.size());
            for (std::size_t i = 0; i < section.rows.size(); ++i) {
                const QTreeWidgetItem* item = list->topLevelItem(int(i));
                QCOMPARE(item->text(1), QString::fromLatin1(section.rows[i].value));
                QCOMPARE(item->toolTip(0), QString::fromStdString(section.rows[i].key));
            }
        }
        QCOMPARE(row(*details, "video.format")->text(1), QString("1920x1080p60"));
        QVERIFY(!details->chromaticity()->mastering());

        useScenario(panel.box, "4k60-hdr");
        tick(window);
        QCOMPARE(row(*details, "video.format")->text(1), QString("3840x2160p60"));
        QCOMPARE(row(*details, "hdr.max_cll_cd_m2")->text(1), QString("962 cd/m2"));
        QVERIFY(row(*details, "video.format")->font(1).bold());
        QVERIFY(!row(*details, "source.vendor")->font(1).bold());
        const auto mastering = details->chromaticity()->mastering();
        QVERIFY(mastering && std::abs(mastering->red.x - 0.68) < 1e-4 &&
                std::abs(mastering->green.y - 0.69) < 1e-4);
        using S = status::Speaker;
        QCOMPARE(details->speakers()->lit(),
                 (std::vector<S>{S::FL, S::FR, S::LFE1, S::FC, S::LS, S::RS, S::BL, S::BR}));
        const std::size_t entries = window.signalDetails().history().entries().size();

        // The mark ends on the panel's clock; an equal poll adds nothing.
        panel.clock.advance(panel::SignalDetailsState::kChangeMarkMs);
        tick(window);
        QVERIFY(!row(*details, "video.format")->font(1).bold());
        QCOMPARE(window.signalDetails().history().entries().size(), entries);

        // No input, then no box: the last values stay, greyed, and the window says why.
        for (const auto& [step, notice] :
             {std::pair{0, "No input signal"}, std::pair{1, "TELMAR disconnected"}}) {
            if (step == 0) {
                useScenario(panel.box, "no-input");
            } else {
                panel.driver.unplugAll();
            }
            tick(window);
            QCOMPARE(details->notice()->text(), QString(notice));
            QVERIFY(details->notice()->isVisible());
            QCOMPARE(row(*details, "video.format")->text(1), QString("3840x2160p60"));
            QVERIFY(greyed(*details, row(*details, "video.format")));
        }

        const auto& history = window.signalDetails().history();
        QVERIFY(history.entries().size() > entries);
        QCOMPARE(std::size_t(details->historyTable()->rowCount()), history.entries().size());
        QCOMPARE(details->historyTable()->item(0, 2)->text(), QString("Input: 1920x1080p60"));

        details->findChild<QPushButton*>("copy14")->click();
        QVERIFY(QGuiApplication::clipboard()->text().startsWith("E0 00 87 01 1A"));
        QCOMPARE(QGuiApplication::clipboard()->text(), details->rawLine(14)->toPlainText());

        // Both formats through the save seam, and a file that cannot be written.
        test::TempFolder folder;
        QString target;
        window.signalDetails().services().saveFileName = [&](QWidget*, const QString&,
                                                             const QString&) { return target; };
        for (const auto& [button, csv] : {std::pair{"saveCsv", true}, {"saveJsonLines", false}}) {
            target = QString::fromStdString(folder.file(button));
            details->findChild<QPushButton*>(button)->click();
            std::ostringstream expected;
            csv ? history.writeCsv(expected) : history.writeJsonLines(expected);
            std::ifstream in(folder.file(button));
            QCOMPARE(std::string(std::istreambuf_iterator<char>(in), {}), expected.str());
        }
        target = QString::fromStdString(folder.file("missing/history.csv"));
        details->findChild<QPushButton*>("saveCsv")->click();
        QCOMPARE(panel.recorder.boxes.back().kind, QString("warning"));
        QVERIFY(panel.recorder.boxes.back().text.contains(target));
    }

    void boxSeesTheSameWithTheWindowOpenOrClosed() {
        const auto closed = traffic(false);
        const auto open = traffic(true);
        QVERIFY(closed.size() > 50);
        QVERIFY(open == closed);
    }
};

QTEST_MAIN(SignalDetailsTest)
#include "SignalDetailsTest.moc"
