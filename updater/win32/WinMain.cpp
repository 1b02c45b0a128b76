// SPDX-License-Identifier: MIT
#include "app/ProgramInfo.h"
#include "updater/Texts.h"
#include "updater/Variant.h"
#include "updater/win32/UpdaterShell.h"

#include <cstdlib>
#include <string>

namespace {

// A GUI program has no console of its own: write where its output was sent, else to
// the console it was started from, else show the text in a box.
void tell(const std::string& text, const std::string& caption) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    }
    DWORD written = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE &&
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return;
    }
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

} // namespace

// TELMAR_UPDATER_VARIANT names the build's variant namespace (fpga1 or fpga2).
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showMode) {
    using namespace telmar;
    const updater::Variant& variant = updater::TELMAR_UPDATER_VARIANT::variant();
    if (const app::InfoOption option = app::findInfoOption(__argc, __wargv);
        option != app::InfoOption::None) {
        tell(app::infoText(option, updater::programName(variant), updater::usageText(variant)),
             updater::programName(variant));
        return 0;
    }
    return updater::win32::runUpdater(instance, showMode, variant);
}
