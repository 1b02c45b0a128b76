// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace telmar::test {

// Holds a worker thread at one point until the test lets it go: the worker calls pass(),
// the test waits for it there with reached() and releases it with open().
class Gate {
  public:
    void arm() {
        std::lock_guard lock(mutex_);
        armed_ = true;
        reached_ = false;
    }
    void pass() {
        std::unique_lock lock(mutex_);
        if (!armed_) {
            return;
        }
        reached_ = true;
        cv_.notify_all();
        cv_.wait(lock, [this] { return !armed_; });
    }
    bool reached(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [this] { return reached_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        armed_ = false;
        cv_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool armed_ = false;
    bool reached_ = false;
};

} // namespace telmar::test
