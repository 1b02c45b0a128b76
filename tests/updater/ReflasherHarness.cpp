// SPDX-License-Identifier: MIT
// The Linux updater program as it ships (runReflasher: driver, lock, inhibitor,
// deferred signals, window), with its pauses a hundred times shorter, driven as a
// user would: it chooses Update Firmware at once and answers every box, printing
// each box's text on stdout. Used by the end-to-end safety tests.
//   reflasher-harness fpga1|fpga2 [--stay|--watch]
//   --stay: keep the window open afterwards; --watch: answer no box, only say how many
//   are on screen whenever that changes ("boxes: N").
#include "tests/support/ScaledClock.h"
#include "updater/Variant.h"
#include "updater/qt/ReflasherMain.h"
#include "updater/qt/UpdaterWindow.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <string_view>

using namespace telmar;

namespace {
void say(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const bool fpga1 = argc > 1 && std::string_view(argv[1]) == "fpga1";
    const std::string_view mode = argc > 2 ? argv[2] : "";
    const bool stay = mode == "--stay";
    const bool watch = mode == "--watch";
    test::ScaledClock clock(1, 100);
    const updater::Variant& variant = fpga1 ? updater::fpga1::variant() : updater::fpga2::variant();
    return updater::runReflasher(variant, clock, [stay, watch](updater::UpdaterWindow& window) {
        auto* answer = new QTimer(&window);
        QObject::connect(answer, &QTimer::timeout, [watch] {
            static int shown = 0;
            int now = 0;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
                    ++now;
                    if (!watch) {
                        say(QStringLiteral("box: ") + box->text().replace(QLatin1Char('\n'), ' '));
                        box->accept();
                    }
                }
            }
            if (watch && now != shown) {
                say(QStringLiteral("boxes: %1").arg(now));
            }
            shown = now;
        });
        answer->start(20);
        QObject::connect(&window, &updater::UpdaterWindow::updateFinished, &window,
                         [&window, stay] {
                             say(QStringLiteral("finished"));
                             if (!stay) {
                                 window.close();
                             }
                         });
        window.findChild<QAction*>(QStringLiteral("actionUpdateFirmware"))->trigger();
        say(QStringLiteral("started"));
    });
}
