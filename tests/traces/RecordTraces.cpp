// SPDX-License-Identifier: MIT
// Records the sessions of tests/traces/ from the simulated box: each one runs the
// programs' own code on the `sim` backend with the recorder around it, and writes
// NAME.jsonl (the trace) and NAME.seen (what the user saw) into the given folder.
//
// usage: telmar-record-traces FOLDER

#include "backends/TraceRecorder.h"
#include "base/Time.h"
#include "sim/SimDriver.h"
#include "tests/support/ScaledClock.h"
#include "tests/support/SimProcess.h"
#include "tests/traces/TraceSessions.h"

#include <QtWidgets/QApplication>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

namespace {

using namespace telmar;
using test::PanelAction;

// Link time 20 times faster than real time: a 4000 ms wait takes 200 ms, the
// updater's 10 s pause half a second. The trace's times are the program's.
constexpr std::uint32_t kSpeedUp = 20;

using Session = std::function<std::string(usb::Driver&, link::Clock&, test::SimProcess&)>;

bool record(const std::string& folder, const std::string& name, const std::string& program,
            const Session& session) {
    test::SimProcess sim({"--delay-ms", "1", "--scenario", "4k60-hdr"});
    if (!sim.running()) {
        std::fprintf(stderr, "%s: telmar-sim did not start: %s\n", name.c_str(),
                     sim.error().c_str());
        return false;
    }
    test::ScaledClock clock(kSpeedUp, kSpeedUp);
    std::ostringstream trace;
    std::string seen;
    {
        std::vector<std::unique_ptr<backends::EntrySink>> sinks;
        sinks.push_back(std::make_unique<backends::TraceWriter>(
            trace,
            backends::TraceHeader{.program = program,
                                  .backend = "sim",
                                  .started = base::isoTime(std::chrono::system_clock::now(), false),
                                  .simulatedBox = true}));
        backends::TraceRecorder recorder(std::make_unique<sim::SimDriver>(sim.socket()),
                                         std::move(sinks), [&] { return clock.tickMs(); });
        seen = session(recorder, clock, sim);
    }
    const std::string text = trace.str();
    std::ofstream(folder + "/" + name + ".jsonl") << text;
    std::ofstream(folder + "/" + name + ".seen") << seen;
    std::printf("%s: %zu lines\n", name.c_str(),
                static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
    return true;
}

// Actions in order; `before` runs a sim command ahead of the action with the same index.
Session panel(std::vector<PanelAction> actions, std::map<std::size_t, std::string> before = {}) {
    return [=](usb::Driver& driver, link::Clock& clock, test::SimProcess& sim) {
        std::size_t next = 0;
        return test::runPanelSession(driver, clock, [&]() -> PanelAction {
            if (const auto it = before.find(next); it != before.end()) {
                sim.control(it->second);
            }
            return next < actions.size() ? actions[next++] : PanelAction{PanelAction::Close};
        });
    };
}

Session update(std::string simCommand = {}) {
    return [=](usb::Driver& driver, link::Clock& clock, test::SimProcess& sim) {
        if (!simCommand.empty()) {
            sim.control(simCommand);
        }
        return test::runUpdaterSession(driver, clock, *test::updaterVariantFor("Reflasher-FPGA2"));
    };
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: telmar-record-traces FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    const std::string folder = argv[1];
    const PanelAction poll{PanelAction::Poll};
    bool ok = true;
    ok &= record(folder, "panel-startup", test::kPanelProgram,
                 panel({poll,
                        {PanelAction::Click, "rbLedDisable"},
                        poll,
                        {PanelAction::Click, "rbHtpcEnable"},
                        poll}));
    ok &= record(
        folder, "panel-box-stops-answering", test::kPanelProgram,
        panel({poll, poll, {PanelAction::Click, "rbLedDisable"}}, {{1, "fault silence-after 0"}}));
    ok &= record(folder, "fpga2-update", "Reflasher-FPGA2", update());
    ok &= record(folder, "fpga2-unplug-mid-update", "Reflasher-FPGA2",
                 update("fault unplug-after 400"));
    return ok ? 0 : 1;
}
