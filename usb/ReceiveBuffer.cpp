// SPDX-License-Identifier: MIT
#include "usb/ReceiveBuffer.h"

#include <algorithm>

namespace telmar::usb {

bool ReceiveBuffer::append(std::span<const std::uint8_t> bytes, bool endsMessage) {
    if (bytes.empty()) {
        return true;
    }
    {
        std::lock_guard lock(mutex_);
        if (bytes.size() > capacity_ - std::min(capacity_, bytes_.size())) {
            return false;
        }
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        if (endsMessage) {
            messageEnds_.push_back(takenTotal_ + bytes_.size());
        }
    }
    arrived_.notify_all();
    return true;
}

std::size_t ReceiveBuffer::waitForData(Duration wait) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, wait, [this] { return broken_ || !bytes_.empty(); });
    return bytes_.size();
}

std::size_t ReceiveBuffer::read(std::span<std::uint8_t> dst, Duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    std::size_t taken = 0;
    while (true) {
        const bool endReached = take(dst, taken);
        if (taken == dst.size() || endReached || broken_) {
            return taken;
        }
        if (!arrived_.wait_until(lock, deadline, [this] { return broken_ || !bytes_.empty(); })) {
            return taken;
        }
    }
}

bool ReceiveBuffer::take(std::span<std::uint8_t> dst, std::size_t& taken) {
    const std::size_t n = std::min(dst.size() - taken, bytes_.size());
    if (n == 0) {
        return false;
    }
    std::copy_n(bytes_.begin(), n, dst.begin() + static_cast<std::ptrdiff_t>(taken));
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    taken += n;
    takenTotal_ += n;
    bool endReached = false;
    while (!messageEnds_.empty() && messageEnds_.front() <= takenTotal_) {
        endReached = messageEnds_.front() == takenTotal_;
        messageEnds_.pop_front();
    }
    return endReached;
}

void ReceiveBuffer::clear() {
    std::lock_guard lock(mutex_);
    takenTotal_ += bytes_.size();
    bytes_.clear();
    messageEnds_.clear();
}

std::size_t ReceiveBuffer::size() const {
    std::lock_guard lock(mutex_);
    return bytes_.size();
}

void ReceiveBuffer::markBroken() {
    {
        std::lock_guard lock(mutex_);
        broken_ = true;
    }
    arrived_.notify_all();
}

bool ReceiveBuffer::broken() const {
    std::lock_guard lock(mutex_);
    return broken_;
}

} // namespace telmar::usb
