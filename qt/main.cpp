// SPDX-License-Identifier: MIT
#include "app/ProgramInfo.h"
#include "backends/BackendChoice.h"
#include "backends/DriverFactory.h"
#include "backends/qt/QtLog.h"
#include "link/Clock.h"
#include "qt/Dialogs.h"
#include "qt/MainWindow.h"
#include "qt/PanelFont.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>
#include <iostream>
#include <memory>

namespace {

constexpr std::string_view kUsage =
    "usage: LUMORA_GUI [--version] [--help] [Qt options]\n"
    "\n"
    "The TELMAR control panel: finds the box, shows its firmware version and the\n"
    "status of its HDMI input, polls it every 3 seconds and writes its settings.\n";

} // namespace

int main(int argc, char* argv[]) {
    using namespace telmar;
    if (const app::InfoOption option = app::findInfoOption(argc, argv);
        option != app::InfoOption::None) {
        std::cout << app::infoText(option, "LUMORA_GUI",
                                   std::string(kUsage) + "\n" + backends::environmentHelp());
        return 0;
    }
    QApplication app(argc, argv);
    // Wayland and the docks match the window to its desktop entry and icon by this.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.telmar.Panel"));
    backends::installQtLog();
    panel::installPanelFont();
    const std::unique_ptr<usb::Driver> driver = backends::createDriver();
    if (!driver) {
        // The line went to standard error too; a window user sees this.
        QMessageBox::critical(nullptr, QStringLiteral("LUMORA_GUI"),
                              QString::fromStdString(backends::backendVariableProblem()));
        return 2;
    }
    link::SteadyClock clock;
    panel::QtDialogs dialogs;

    // On the heap: File > Exit deletes the window itself before ending the process.
    auto* window =
        new panel::MainWindow(panel::PanelServices{*driver, clock, dialogs, dialogs, nullptr, {}});
    window->show();
    const int code = app.exec();
    delete window;
    return code;
}
