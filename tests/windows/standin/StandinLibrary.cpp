// SPDX-License-Identifier: MIT
// The stand-in SiUSBXp.dll: the vendor library's ten functions over one simulated
// box, for running the unmodified Windows programs in tests. Never ship it.
#include "tests/windows/standin/StandinDriver.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <atomic>
#include <windows.h>

using telmar::sim::standin::Controls;
using telmar::sim::standin::StandinDriver;
namespace usb = telmar::usb;

namespace {

std::atomic<StandinDriver*> made{nullptr};
HANDLE deviceClaim = nullptr; // held while the device is open in this process

StandinDriver& driver() {
    static StandinDriver instance(Controls::fromEnvironment());
    made = &instance;
    return instance;
}

usb::Handle fromWin(HANDLE handle) {
    return reinterpret_cast<usb::Handle>(handle);
}

} // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI StandinGetNumDevices(LPDWORD count) {
    if (count == nullptr) {
        return usb::kInvalidParameter;
    }
    std::uint32_t n = 0;
    const usb::Status status = driver().getNumDevices(n);
    *count = n;
    return status;
}

__declspec(dllexport) DWORD WINAPI
    StandinGetDeviceString(DWORD index, LPVOID buffer, DWORD option) {
    return driver().getDeviceString(index, static_cast<char*>(buffer), option);
}

__declspec(dllexport) BOOL WINAPI TelmarStandinSimulatedBox() {
    return TRUE;
}

__declspec(dllexport) DWORD WINAPI StandinOpen(DWORD index, HANDLE* handle) {
    if (handle == nullptr) {
        return usb::kInvalidParameter;
    }
    *handle = INVALID_HANDLE_VALUE;
    // A real device is claimed by one process at a time; every process loads a
    // stand-in of its own, so the claim is a named object they all see.
    HANDLE claim = CreateMutexW(nullptr, FALSE, L"Local\\TELMAR-standin-box-claim");
    if (claim == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        if (claim != nullptr) {
            CloseHandle(claim);
        }
        return usb::kAccessDenied;
    }
    usb::Handle opened = usb::kNoHandle;
    const usb::Status status = driver().open(index, opened);
    if (status != usb::kSuccess) {
        CloseHandle(claim);
        return status;
    }
    deviceClaim = claim;
    *handle = reinterpret_cast<HANDLE>(opened);
    return status;
}

__declspec(dllexport) DWORD WINAPI StandinClose(HANDLE handle) {
    const usb::Status status = driver().close(fromWin(handle));
    // The handle of an unplugged box fails to close but is gone all the same.
    const bool gone = status == usb::kSuccess || status == usb::kDeviceIoFailed;
    if (gone && deviceClaim != nullptr) {
        CloseHandle(deviceClaim);
        deviceClaim = nullptr;
    }
    return status;
}

__declspec(dllexport) DWORD WINAPI
    StandinRead(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD bytesRead, OVERLAPPED*) {
    std::uint32_t n = 0;
    const usb::Status status = driver().read(fromWin(handle), buffer, count, n);
    if (bytesRead != nullptr) {
        *bytesRead = n;
    }
    return status;
}

__declspec(dllexport) DWORD WINAPI
    StandinWrite(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD bytesWritten, OVERLAPPED*) {
    std::uint32_t n = 0;
    const usb::Status status = driver().write(fromWin(handle), buffer, count, n);
    if (bytesWritten != nullptr) {
        *bytesWritten = n;
    }
    return status;
}

__declspec(dllexport) DWORD WINAPI
    StandinFlushBuffers(HANDLE handle, BYTE flushTransmit, BYTE flushReceive) {
    return driver().flushBuffers(fromWin(handle), flushTransmit, flushReceive);
}

__declspec(dllexport) DWORD WINAPI StandinSetTimeouts(DWORD readMs, DWORD writeMs) {
    return driver().setTimeouts(readMs, writeMs);
}

__declspec(dllexport) DWORD WINAPI StandinGetTimeouts(LPDWORD readMs, LPDWORD writeMs) {
    if (readMs == nullptr || writeMs == nullptr) {
        return usb::kInvalidParameter;
    }
    std::uint32_t r = 0;
    std::uint32_t w = 0;
    const usb::Status status = driver().getTimeouts(r, w);
    *readMs = r;
    *writeMs = w;
    return status;
}

__declspec(dllexport) DWORD WINAPI
    StandinCheckRxQueue(HANDLE handle, LPDWORD bytesQueued, LPDWORD queueStatus) {
    if (bytesQueued == nullptr || queueStatus == nullptr) {
        return usb::kInvalidParameter;
    }
    std::uint32_t queued = 0;
    std::uint32_t state = 0;
    const usb::Status status = driver().checkRxQueue(fromWin(handle), queued, state);
    *bytesQueued = queued;
    *queueStatus = state;
    return status;
}

} // extern "C"

// The final state, for runs that end without closing the device. A process that
// ends from one of our callers' threads may leave the lock held; dump() then skips.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) {
        if (StandinDriver* instance = made.load()) {
            instance->dump();
        }
    }
    return TRUE;
}
