// SPDX-License-Identifier: MIT
#pragma once

#include "updater/Safeguards.h"

#include <QLockFile>
#include <QString>
#include <memory>

namespace telmar::updater {

// The update lock as a lock file in the user's runtime folder. The lock file is
// also flock()ed, so the lock of a process killed outright is free at once.
class QtUpdateLock final : public UpdateLock {
  public:
    explicit QtUpdateLock(QString path = defaultPath());

    bool tryLock() override;
    void unlock() override;

    // <runtime folder>/telmar-reflasher-update.lock
    static QString defaultPath();

  private:
    QLockFile file_;
};

} // namespace telmar::updater
