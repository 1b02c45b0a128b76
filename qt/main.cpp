// SPDX-License-Identifier: MIT
#include "backends/DriverFactory.h"
#include "link/Clock.h"
#include "qt/Dialogs.h"
#include "qt/MainWindow.h"

#include <QtWidgets/QApplication>
#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const std::unique_ptr<telmar::usb::Driver> driver = telmar::backends::createDriver();
    telmar::link::SteadyClock clock;
    telmar::panel::QtDialogs dialogs;

    // On the heap: File > Exit deletes the window itself before ending the process.
    auto* window = new telmar::panel::MainWindow(
        telmar::panel::PanelServices{*driver, clock, dialogs, dialogs, nullptr, {}});
    window->show();
    const int code = app.exec();
    delete window;
    return code;
}
