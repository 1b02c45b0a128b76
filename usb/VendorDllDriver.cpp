// SPDX-License-Identifier: MIT
#include "usb/VendorDllDriver.h"

#include "usb/MissingLibrary.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <bit>
#include <windows.h>

namespace telmar::usb {

namespace {

// The library's functions, by ordinal; every one returns 0 on success.
using GetNumDevicesFn = DWORD(WINAPI*)(LPDWORD numDevices);
using GetDeviceStringFn = DWORD(WINAPI*)(DWORD index, LPVOID buffer, DWORD option);
using OpenFn = DWORD(WINAPI*)(DWORD index, HANDLE* handle);
using CloseFn = DWORD(WINAPI*)(HANDLE handle);
using ReadFn = DWORD(WINAPI*)(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD bytesRead,
                              OVERLAPPED* overlapped);
using WriteFn = DWORD(WINAPI*)(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD bytesWritten,
                               OVERLAPPED* overlapped);
using FlushBuffersFn = DWORD(WINAPI*)(HANDLE handle, BYTE flushTransmit, BYTE flushReceive);
using SetTimeoutsFn = DWORD(WINAPI*)(DWORD readMs, DWORD writeMs);
using GetTimeoutsFn = DWORD(WINAPI*)(LPDWORD readMs, LPDWORD writeMs);
using CheckRxQueueFn = DWORD(WINAPI*)(HANDLE handle, LPDWORD bytesQueued, LPDWORD queueStatus);

template <typename Fn> Fn byOrdinal(HMODULE module, WORD ordinal) {
    if (module == nullptr) {
        return nullptr;
    }
    return std::bit_cast<Fn>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
}

HMODULE loadLibrary(const wchar_t* name) {
    // Only the program's folder and the system folders: never the working directory.
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        module = LoadLibraryW(name); // systems without the restricted search flags
    }
    return module;
}

HANDLE toWin(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The library's function with these arguments, or kLibraryMissing without it.
template <typename Fn, typename... Args> Status call(Fn fn, Args... args) {
    return fn == nullptr ? kLibraryMissing : fn(args...);
}

} // namespace

struct VendorDllDriver::Impl {
    explicit Impl(const wchar_t* name) : module(loadLibrary(name)) {}

    // Declared first: every function below is looked up in it.
    HMODULE module;
    GetNumDevicesFn getNumDevices = byOrdinal<GetNumDevicesFn>(module, 1);
    GetDeviceStringFn getDeviceString = byOrdinal<GetDeviceStringFn>(module, 2);
    OpenFn open = byOrdinal<OpenFn>(module, 3);
    CloseFn close = byOrdinal<CloseFn>(module, 4);
    ReadFn read = byOrdinal<ReadFn>(module, 6);
    WriteFn write = byOrdinal<WriteFn>(module, 7);
    FlushBuffersFn flushBuffers = byOrdinal<FlushBuffersFn>(module, 9);
    SetTimeoutsFn setTimeouts = byOrdinal<SetTimeoutsFn>(module, 10);
    GetTimeoutsFn getTimeouts = byOrdinal<GetTimeoutsFn>(module, 11);
    CheckRxQueueFn checkRxQueue = byOrdinal<CheckRxQueueFn>(module, 12);
    bool simulatedBox = [this] {
        using SimulatedBoxFn = BOOL(WINAPI*)();
        const auto simulated =
            module == nullptr
                ? nullptr
                : std::bit_cast<SimulatedBoxFn>(GetProcAddress(module, kSimulatedBoxExport));
        return simulated != nullptr && simulated() != FALSE;
    }();

    ~Impl() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
};

VendorDllDriver::VendorDllDriver(const wchar_t* libraryName)
    : impl_(std::make_unique<Impl>(libraryName)) {}

VendorDllDriver::~VendorDllDriver() = default;

bool VendorDllDriver::loaded() const {
    return impl_->module != nullptr;
}

bool VendorDllDriver::libraryAvailable(const wchar_t* libraryName) {
    HMODULE module = loadLibrary(libraryName);
    if (module == nullptr) {
        return false;
    }
    FreeLibrary(module);
    return true;
}

bool VendorDllDriver::simulatedBox() const {
    return impl_->simulatedBox;
}

std::string VendorDllDriver::reachProblem() const {
    return loaded() ? std::string{} : missingLibraryText(kLibraryName, "This program");
}

Status VendorDllDriver::getNumDevices(std::uint32_t& count) {
    DWORD n = 0;
    const Status status = call(impl_->getNumDevices, &n);
    if (status == kSuccess) {
        count = n;
    }
    return status;
}

Status VendorDllDriver::getDeviceString(std::uint32_t index, char* buffer, std::uint32_t option) {
    if (impl_->getDeviceString == nullptr) {
        return kLibraryMissing;
    }
    if (buffer == nullptr) {
        return kInvalidParameter;
    }
    return impl_->getDeviceString(index, buffer, option);
}

Status VendorDllDriver::open(std::uint32_t index, Handle& handle) {
    HANDLE opened = INVALID_HANDLE_VALUE;
    const Status status = call(impl_->open, index, &opened);
    handle = status == kSuccess ? reinterpret_cast<Handle>(opened) : kNoHandle;
    return status;
}

Status VendorDllDriver::close(Handle handle) {
    return call(impl_->close, toWin(handle));
}

Status VendorDllDriver::read(Handle handle, void* buffer, std::uint32_t count,
                             std::uint32_t& bytesRead) {
    DWORD n = 0;
    const Status status = call(impl_->read, toWin(handle), buffer, count, &n, nullptr);
    bytesRead = n;
    return status;
}

Status VendorDllDriver::write(Handle handle, const void* buffer, std::uint32_t count,
                              std::uint32_t& bytesWritten) {
    DWORD n = 0;
    // The library's prototype is not const-correct; it only reads the buffer.
    const Status status =
        call(impl_->write, toWin(handle), const_cast<void*>(buffer), count, &n, nullptr);
    bytesWritten = n;
    return status;
}

Status VendorDllDriver::flushBuffers(Handle handle, std::uint8_t flushTransmit,
                                     std::uint8_t flushReceive) {
    return call(impl_->flushBuffers, toWin(handle), flushTransmit, flushReceive);
}

Status VendorDllDriver::setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    return call(impl_->setTimeouts, readMs, writeMs);
}

Status VendorDllDriver::getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) {
    DWORD r = 0;
    DWORD w = 0;
    const Status status = call(impl_->getTimeouts, &r, &w);
    if (status == kSuccess) {
        readMs = r;
        writeMs = w;
    }
    return status;
}

Status VendorDllDriver::checkRxQueue(Handle handle, std::uint32_t& bytesQueued,
                                     std::uint32_t& queueStatus) {
    DWORD queued = 0;
    DWORD state = 0;
    const Status status = call(impl_->checkRxQueue, toWin(handle), &queued, &state);
    bytesQueued = queued;
    queueStatus = state;
    return status;
}

} // namespace telmar::usb
