// SPDX-License-Identifier: MIT
#include "updater/Variant.h"
#include "updater/win32/UpdaterShell.h"

// TELMAR_UPDATER_VARIANT names the build's variant namespace (fpga1 or fpga2).
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showMode) {
    return telmar::updater::win32::runUpdater(instance, showMode,
                                              telmar::updater::TELMAR_UPDATER_VARIANT::variant());
}
