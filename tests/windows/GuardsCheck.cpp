// SPDX-License-Identifier: MIT
// Runs under Wine from the Wine test: the Windows update lock. Prints "ok" or what
// failed, one line each; exit code 0 when all held.
#include "updater/win32/Win32Guards.h"

#include <cstdio>

using telmar::updater::win32::NamedMutexLock;

int main() {
    int failed = 0;
    const auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::printf("FAILED: %s\n", what);
            ++failed;
        }
    };
    // Two locks stand for two updater programs of the same user: the named object is
    // what they share, whichever process holds it.
    NamedMutexLock first;
    NamedMutexLock second;
    check(first.tryLock(), "the first update takes the lock");
    check(!second.tryLock(), "a second update is refused while the first runs");
    check(!first.tryLock(), "taking the lock twice is refused");
    first.unlock();
    check(second.tryLock(), "the lock is free again once the first update ends");
    second.unlock();
    if (failed == 0) {
        std::printf("ok\n");
    }
    return failed == 0 ? 0 : 1;
}
