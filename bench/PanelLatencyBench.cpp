// SPDX-License-Identifier: MIT
// How long the control panel's event loop can stall while the box is slow, silent, faulty
// or gone: the real MainWindow on the sim backend against a private simulated box, a 10 ms
// timer whose lateness is recorded, 15 s per case. Link boxes are dismissed as a user
// would, one second after they appear. Run: build/bin/panel-latency-bench [seconds]
#include "bench/BenchDaemon.h"
#include "link/Clock.h"
#include "qt/Dialogs.h"
#include "qt/MainWindow.h"
#include "qt/PanelFont.h"
#include "sim/SimDriver.h"
#include "sim/Wire.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Case {
    const char* name;
    std::vector<std::string> atStart;   // control commands once the window has started
    std::vector<std::string> atHalfway; // and half-way through
};

const char* connectionName(telmar::panel::Connection c) {
    switch (c) {
    case telmar::panel::Connection::Searching:
        return "searching";
    case telmar::panel::Connection::Connected:
        return "connected";
    case telmar::panel::Connection::Disconnected:
        return "disconnected";
    }
    return "?";
}

struct Result {
    std::string states; // the box as the panel saw it half-way and at the end
    qint64 maxStallMs = 0;
    int ticks = 0;
    int linkBoxes = 0;
    qint64 closeMs = 0;
};

void control(const std::string& socket, const std::string& command) {
    const auto reply = telmar::sim::sendControl(socket, command, 2000);
    if (!reply.ok) {
        std::fprintf(stderr, "telmar-sim %s: %s\n", command.c_str(), reply.error.c_str());
    }
}

Result runCase(const Case& c, const std::string& socket, int seconds) {
    Result result;
    telmar::bench::BenchDaemon daemon(socket, 0);
    if (!daemon.ready()) {
        std::fprintf(stderr, "the simulated box did not start\n");
        std::exit(2);
    }
    telmar::sim::SimDriver driver(socket);
    telmar::link::SteadyClock clock;
    telmar::panel::QtDialogs dialogs;
    auto* window = new telmar::panel::MainWindow(
        telmar::panel::PanelServices{driver, clock, dialogs, dialogs, nullptr, {}});
    window->show();
    // The faults come once the start-up sequence has had its second.
    QTimer::singleShot(1000, [&] {
        for (const auto& command : c.atStart) {
            control(socket, command);
        }
    });

    // The probe: every lateness of a 10 ms timer beyond its period is a stall.
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        result.maxStallMs = std::max(result.maxStallMs, sinceTick.restart() - 10);
        ++result.ticks;
    });
    probe.start(10);

    // The user: closes each link box about a second after it appeared.
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
                ++result.linkBoxes;
                box->close();
            }
        }
    });
    user.start(1000);

    QTimer::singleShot(seconds * 500, [&] {
        result.states = connectionName(window->core().connection());
        for (const auto& command : c.atHalfway) {
            control(socket, command);
        }
    });
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    probe.stop();
    user.stop();
    result.states += std::string(" / ") + connectionName(window->core().connection());

    QElapsedTimer closing;
    closing.start();
    window->close();
    delete window;
    result.closeMs = closing.elapsed();
    return result;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's notes about window hints are no news here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg && !text.contains("propagateSizeHints") &&
            !text.contains("XDG_RUNTIME_DIR")) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
        }
    });
    QApplication app(argc, argv);
    telmar::panel::installPanelFont();
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 15;
    const std::string socket = "/tmp/telmar-panel-bench-" + std::to_string(::getpid()) + ".sock";

    const std::vector<Case> cases = {
        {"normal", {}, {}},
        {"delay 3000", {"delay 3000"}, {}},
        {"fault drop 3", {"fault drop 3"}, {}},
        {"fault silence-after 0", {"fault silence-after 0"}, {}},
        {"fault queue always", {"fault queue always"}, {}},
        {"unplug, plug half-way", {"unplug"}, {"plug"}},
    };
    std::printf("%-24s %10s %8s %10s %9s  %s\n", "case", "max stall", "ticks", "link boxes",
                "close", "box half-way / at end");
    qint64 worst = 0;
    for (const Case& c : cases) {
        const Result r = runCase(c, socket, seconds);
        std::printf("%-24s %7lld ms %8d %10d %6lld ms  %s\n", c.name,
                    static_cast<long long>(r.maxStallMs), r.ticks, r.linkBoxes,
                    static_cast<long long>(r.closeMs), r.states.c_str());
        std::fflush(stdout);
        worst = std::max({worst, r.maxStallMs, r.closeMs});
    }
    std::printf("max stall %lld ms\n", static_cast<long long>(worst));
    return worst < 100 ? 0 : 1;
}
