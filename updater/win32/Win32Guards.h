// SPDX-License-Identifier: MIT
#pragma once

#include "updater/Safeguards.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <string>
#include <windows.h>

namespace telmar::updater::win32 {

// The update lock as a named mutex in the session's namespace, one per user. The
// mutex object lives while any handle to it is open, so existing means held; a
// process that dies drops its handle, and the lock with it.
class NamedMutexLock final : public UpdateLock {
  public:
    NamedMutexLock();
    ~NamedMutexLock() override;

    bool tryLock() override;
    void unlock() override;

  private:
    std::wstring name_;
    HANDLE mutex_ = nullptr;
};

// While the image is written: the system stays awake (the calling thread's execution
// state) and shutdown or logoff shows the reason and waits, through the window's
// thread, which alone may set a window's shutdown block reason.
class ExecutionStateGuard final : public WriteGuard {
  public:
    // Sent to `window` with wParam TRUE and the reason (LPCWSTR) in lParam to block,
    // FALSE to unblock; the window procedure passes it to handleShutdownBlock.
    static constexpr UINT kShutdownBlockMessage = WM_APP + 2;

    explicit ExecutionStateGuard(HWND window) : window_(window) {}

    void begin(std::string_view reason) override;
    void end() override;

    static void handleShutdownBlock(HWND window, WPARAM block, LPARAM reason);

  private:
    HWND window_;
    bool held_ = false;
};

} // namespace telmar::updater::win32
