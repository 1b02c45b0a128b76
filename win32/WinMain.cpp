// SPDX-License-Identifier: MIT
#include "app/ProgramInfo.h"
#include "app/Win32Output.h"
#include "backends/DriverFactory.h"
#include "win32/PanelShell.h"

#include <string_view>

namespace {

constexpr std::string_view kUsage =
    "usage: LUMORA_GUI [--version] [--help]\n"
    "\n"
    "The TELMAR control panel: finds the box, shows its firmware version and the\n"
    "status of its HDMI input, polls it every 3 seconds and writes its settings.\n";

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showMode) {
    using namespace telmar;
    if (const app::InfoOption option = app::findInfoOption(__argc, __wargv);
        option != app::InfoOption::None) {
        app::tellUser(app::infoText(option, "LUMORA_GUI", kUsage), "LUMORA_GUI");
        return 0;
    }
    if (const std::string problem = backends::backendVariableProblem(); !problem.empty()) {
        app::tellUser(problem + "\n", "LUMORA_GUI");
        return 2;
    }
    return win32::runPanel(instance, showMode, backends::createDriver());
}
