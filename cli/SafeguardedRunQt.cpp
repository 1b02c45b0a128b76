// SPDX-License-Identifier: MIT
// Linux: the updater's QtCore safeguards need an event loop for the signals, so the
// procedure runs on a worker thread, as in the window.
#include "cli/SafeguardedRun.h"
#include "updater/qtcore/LogindInhibitor.h"
#include "updater/qtcore/QtUpdateLock.h"
#include "updater/qtcore/TerminationSignals.h"

#include <QCoreApplication>
#include <csignal>
#include <ostream>
#include <thread>

namespace telmar::cli {

updater::FlashUpdate::Outcome runSafeguarded(const updater::Variant& variant, usb::Driver& driver,
                                             link::Clock& clock, updater::UserInterface& ui,
                                             std::ostream& err) {
    int argc = 1;
    char name[] = "telmarctl";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    updater::QtUpdateLock lock;
    updater::LogindInhibitor inhibitor(QDBusConnection::systemBus(), err);
    updater::FlashUpdate update(variant, driver, clock, ui,
                                {.lock = &lock, .writeGuard = &inhibitor});
    updater::TerminationSignals termination;
    bool told = false;
    QObject::connect(&termination, &updater::TerminationSignals::requested, [&](int signal) {
        if (update.writing()) {
            if (!told) {
                err << "\n" << kInterruptDeferredText << std::endl;
                told = true;
            }
            return;
        }
        // Nothing is being written: end as the signal would have ended us.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    });

    auto outcome = updater::FlashUpdate::Outcome::Refused;
    std::thread worker([&] {
        outcome = update.FlashUpdateThread();
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    worker.join();
    return outcome;
}

} // namespace telmar::cli
