// SPDX-License-Identifier: MIT
#include "updater/win32/Win32Guards.h"

#include "base/Latin1.h"

namespace telmar::updater::win32 {

namespace {
std::wstring userName() {
    wchar_t name[257] = {};
    DWORD size = static_cast<DWORD>(std::size(name));
    return GetUserNameW(name, &size) ? std::wstring(name) : std::wstring(L"user");
}
} // namespace

NamedMutexLock::NamedMutexLock() : name_(L"Local\\TELMAR-Reflasher-update-" + userName()) {}

NamedMutexLock::~NamedMutexLock() {
    unlock();
}

bool NamedMutexLock::tryLock() {
    if (mutex_ != nullptr) {
        return false;
    }
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name_.c_str());
    if (mutex == nullptr) {
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    mutex_ = mutex;
    return true;
}

void NamedMutexLock::unlock() {
    if (mutex_ != nullptr) {
        CloseHandle(mutex_);
        mutex_ = nullptr;
    }
}

void ExecutionStateGuard::begin(std::string_view reason) {
    if (held_) {
        return;
    }
    held_ = true;
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    if (window_ != nullptr) {
        const std::wstring text = base::widen(reason);
        SendMessageW(window_, kShutdownBlockMessage, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void ExecutionStateGuard::end() {
    if (!held_) {
        return;
    }
    held_ = false;
    SetThreadExecutionState(ES_CONTINUOUS);
    if (window_ != nullptr) {
        SendMessageW(window_, kShutdownBlockMessage, FALSE, 0);
    }
}

void ExecutionStateGuard::handleShutdownBlock(HWND window, WPARAM block, LPARAM reason) {
    if (block) {
        ShutdownBlockReasonCreate(window, reinterpret_cast<LPCWSTR>(reason));
    } else {
        ShutdownBlockReasonDestroy(window);
    }
}

} // namespace telmar::updater::win32
