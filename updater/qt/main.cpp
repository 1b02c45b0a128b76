// SPDX-License-Identifier: MIT
#include "backends/DriverFactory.h"
#include "link/Clock.h"
#include "updater/Variant.h"
#include "updater/qt/UpdaterWindow.h"

#include <QApplication>
#include <cstdlib>

// TELMAR_UPDATER_VARIANT names the build's variant namespace: fpga1 or fpga2.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    std::unique_ptr<telmar::usb::Driver> driver = telmar::backends::createDriver();
    telmar::link::SteadyClock clock;
    telmar::updater::UpdaterWindow window(telmar::updater::TELMAR_UPDATER_VARIANT::variant(),
                                          *driver, clock);
    window.show();
    const int code = QApplication::exec();
    if (window.workerRunning()) {
        // Closing is refused while the image is written, so the worker is only
        // waiting (its first pause, or a box): it ends with the process.
        std::_Exit(code);
    }
    return code;
}
