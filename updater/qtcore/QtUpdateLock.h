// SPDX-License-Identifier: MIT
#pragma once

#include "updater/Safeguards.h"

#include <string>

namespace telmar::updater {

// The update lock as a flock() on a file in this user's private runtime folder. The
// kernel holds the lock for the open file only, so a holder that dies, even by SIGKILL,
// frees it at once, and whatever the file says (a pid, anything) never blocks an update.
class QtUpdateLock final : public UpdateLock {
  public:
    // `path` empty: defaultPath(). A given path's folder must be private to this user.
    explicit QtUpdateLock(std::string path = {});
    ~QtUpdateLock() override;
    QtUpdateLock(const QtUpdateLock&) = delete;
    QtUpdateLock& operator=(const QtUpdateLock&) = delete;

    bool tryLock() override;
    void unlock() override;
    std::string problem() const override { return problem_; }

    // <private runtime folder>/telmar-reflasher-update.lock (see
    // base::privateRuntimeFolder), or "" with the reason in `error`.
    static std::string defaultPath(std::string& error);

  private:
    std::string path_;
    std::string problem_;
    int fd_ = -1;
};

} // namespace telmar::updater
