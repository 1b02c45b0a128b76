// SPDX-License-Identifier: MIT
#include "doctor/Probes.h"
#include "usb/MissingLibrary.h"
#include "usb/VendorDllDriver.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <vector>
#include <windows.h>

namespace telmar::doctor {

namespace {

std::string narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring programFolder() {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(n);
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring systemFolder() {
    wchar_t path[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(path, MAX_PATH);
    return std::wstring(path, n);
}

std::string fileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) {
        return {};
    }
    std::vector<unsigned char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr) {
        return {};
    }
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionLS));
}

} // namespace

VendorLibrary probeVendorLibrary() {
    VendorLibrary lib;
    // The loader's restricted search: the program's folder, then the system folder.
    const std::wstring folders[] = {programFolder(), systemFolder()};
    for (const std::wstring& folder : folders) {
        lib.looked.push_back(narrow(folder));
    }
    lib.loads = usb::VendorDllDriver::libraryAvailable();
    if (HMODULE module = LoadLibraryExW(usb::VendorDllDriver::kLibraryName, nullptr,
                                        LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
        std::wstring path(MAX_PATH, L'\0');
        path.resize(GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
        lib.found = narrow(path);
        lib.fileVersion = fileVersion(path);
        FreeLibrary(module);
    }
    if (!lib.loads) {
        lib.missingText = usb::missingLibraryText(usb::VendorDllDriver::kLibraryName, "telmarctl");
    }
    return lib;
}

UsbSystem probeUsbSystem() {
    return {};
}

std::string usbLibraryVersion() {
    const VendorLibrary lib = probeVendorLibrary();
    return lib.loads ? "SiUSBXp.dll " + lib.fileVersion : std::string{};
}

std::string operatingSystem() {
    // GetVersionEx lies to programs without a manifest; the kernel's own file does not.
    const std::string version = fileVersion(systemFolder() + L"\\kernel32.dll");
    return "Windows" + (version.empty() ? std::string{} : " " + version);
}

} // namespace telmar::doctor
