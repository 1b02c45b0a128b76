// SPDX-License-Identifier: MIT
#include "app/ProgramInfo.h"
#include "backends/BackendChoice.h"
#include "backends/DriverFactory.h"
#include "link/Clock.h"
#include "updater/Texts.h"
#include "updater/Variant.h"
#include "updater/qt/UpdaterWindow.h"

#include <QApplication>
#include <cstdlib>
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
    QGuiApplication::setDesktopFileName(
        QStringLiteral("org.telmar.Reflasher.") +
        QString::fromLatin1(variant.buildName.data(),
                            static_cast<qsizetype>(variant.buildName.size())));
    std::unique_ptr<usb::Driver> driver = backends::createDriver();
    link::SteadyClock clock;
    updater::UpdaterWindow window(variant, *driver, clock);
    window.show();
    const int code = QApplication::exec();
    if (window.workerRunning()) {
        // Closing is refused while the image is written, so the worker is only
        // waiting (its first pause, or a box): it ends with the process.
        std::_Exit(code);
    }
    return code;
}
