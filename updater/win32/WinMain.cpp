// SPDX-License-Identifier: MIT
#include "app/ProgramInfo.h"
#include "app/Win32Output.h"
#include "backends/DriverFactory.h"
#include "updater/Texts.h"
#include "updater/Variant.h"
#include "updater/win32/UpdaterShell.h"

#include <cstdlib>

// TELMAR_UPDATER_VARIANT names the build's variant namespace (fpga1 or fpga2).
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showMode) {
    using namespace telmar;
    const updater::Variant& variant = updater::TELMAR_UPDATER_VARIANT::variant();
    if (const app::InfoOption option = app::findInfoOption(__argc, __wargv);
        option != app::InfoOption::None) {
        app::tellUser(
            app::infoText(option, updater::programName(variant), updater::usageText(variant)),
            updater::programName(variant));
        return 0;
    }
    if (const std::string problem = backends::backendVariableProblem(); !problem.empty()) {
        app::tellUser(problem + "\n", updater::programName(variant));
        return 2;
    }
    return updater::win32::runUpdater(instance, showMode, variant,
                                      [] { return backends::createDriver(); });
}
