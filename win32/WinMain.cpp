// SPDX-License-Identifier: MIT
#include "win32/PanelShell.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showMode) {
    return telmar::win32::runPanel(instance, showMode);
}
