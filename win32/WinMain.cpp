// SPDX-License-Identifier: MIT
#include "app/ProgramInfo.h"
#include "app/Win32Output.h"
#include "backends/BackendChoice.h"
#include "backends/DriverFactory.h"
#include "usb/MissingLibrary.h"
#include "usb/VendorDllDriver.h"
#include "win32/PanelShell.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kUsage =
    "usage: LUMORA_GUI [--version] [--help]\n"
    "\n"
    "The TELMAR control panel: finds the box, shows its firmware version and the\n"
    "status of its HDMI input, polls it every 3 seconds and writes its settings.\n";

// As the updater: without the vendor's library the window could only say that no box
// is connected, so the missing file is named before any window opens.
constexpr int kMissingLibraryExitCode = 2;

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
    const backends::BackendEntry* backend =
        backends::chooseBackend(std::getenv(backends::kBackendVariable), std::cerr);
    if (backend != nullptr && backend->name == "usb" && !usb::VendorDllDriver::libraryAvailable()) {
        const std::string text =
            usb::missingLibraryText(usb::VendorDllDriver::kLibraryName, "The control panel");
        MessageBoxW(nullptr, std::wstring(text.begin(), text.end()).c_str(), L"TELMAR GUI",
                    MB_OK | MB_ICONERROR);
        return kMissingLibraryExitCode;
    }
    return win32::runPanel(instance, showMode, backends::createDriver());
}
