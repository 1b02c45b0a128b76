// SPDX-License-Identifier: MIT
#include "app/ProgramInfo.h"
#include "backends/BackendChoice.h"
#include "backends/qt/QtLog.h"
#include "link/Clock.h"
#include "updater/Texts.h"
#include "updater/Variant.h"
#include "updater/qt/LineCanvas.h"
#include "updater/qt/ReflasherMain.h"

#include <QApplication>
#include <iostream>

// TELMAR_UPDATER_VARIANT names the build's variant namespace: fpga1 or fpga2.
int main(int argc, char* argv[]) {
    using namespace telmar;
    const updater::Variant& variant = updater::TELMAR_UPDATER_VARIANT::variant();
    if (const app::InfoOption option = app::findInfoOption(argc, argv);
        option != app::InfoOption::None) {
        std::cout << app::infoText(option, updater::programName(variant),
                                   updater::usageText(variant) + "\n" +
                                       backends::environmentHelp());
        return 0;
    }
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.telmar.Reflasher.") +
                                        updater::toQString(variant.buildName));
    backends::installQtLog();
    link::SteadyClock clock;
    return updater::runReflasher(variant, clock);
}
