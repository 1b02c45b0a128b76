// SPDX-License-Identifier: MIT
// A stand-in for the vendor library: the ten functions by ordinal, with the calling
// convention and argument types the backend declares, answering fixed values.
#include <cstring>
#include <windows.h>

extern "C" {

static DWORD readTimeout = 1000;
static DWORD writeTimeout = 1000;

DWORD WINAPI fakeCount(LPDWORD count) {
    *count = 2;
    return 0;
}

DWORD WINAPI fakeString(DWORD index, LPVOID buffer, DWORD option) {
    if (index > 1 || (option != 0 && option != 2)) {
        return 2;
    }
    const char* text = option == 2 ? "usb:1-1" : (index == 1 ? "2031" : "1111");
    std::strcpy(static_cast<char*>(buffer), text);
    return 0;
}

DWORD WINAPI fakeOpen(DWORD index, HANDLE* handle) {
    *handle = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x100 + index));
    return 0;
}

DWORD WINAPI fakeClose(HANDLE handle) {
    return handle == reinterpret_cast<HANDLE>(0x101) ? 0 : 1;
}

DWORD WINAPI fakeRead(HANDLE, LPVOID buffer, DWORD count, LPDWORD bytesRead, OVERLAPPED* o) {
    if (o != nullptr) {
        return 9;
    }
    const DWORD n = count < 2 ? count : 2;
    std::memset(buffer, 0xE0, n);
    *bytesRead = n;
    return 0;
}

DWORD WINAPI fakeWrite(HANDLE, LPVOID buffer, DWORD count, LPDWORD bytesWritten, OVERLAPPED* o) {
    if (o != nullptr || static_cast<const BYTE*>(buffer)[0] != 0x10) {
        return 9;
    }
    *bytesWritten = count;
    return 0;
}

DWORD WINAPI fakeFlush(HANDLE, BYTE transmit, BYTE receive) {
    return transmit == 1 && receive == 1 ? 0 : 4;
}

DWORD WINAPI fakeSetTimeouts(DWORD readMs, DWORD writeMs) {
    readTimeout = readMs;
    writeTimeout = writeMs;
    return 0;
}

DWORD WINAPI fakeGetTimeouts(LPDWORD readMs, LPDWORD writeMs) {
    *readMs = readTimeout;
    *writeMs = writeTimeout;
    return 0;
}

DWORD WINAPI fakeQueue(HANDLE, LPDWORD queued, LPDWORD status) {
    *queued = 7;
    *status = 2;
    return 0;
}

} // extern "C"
