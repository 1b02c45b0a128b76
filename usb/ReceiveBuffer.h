// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>

namespace telmar::usb {

// Bytes the box has sent that nobody has read yet. The USB event thread appends,
// the caller's thread takes; every wait is bounded by the caller's time-out.
class ReceiveBuffer {
  public:
    using Duration = std::chrono::milliseconds;

    // A reply is at most 64 bytes and every exchange flushes first, so this much unread
    // means a device that sends without being asked; it must not grow the program.
    static constexpr std::size_t kDefaultCapacity = 64 * 1024;

    explicit ReceiveBuffer(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

    // `endsMessage`: the box ended its transfer with these bytes (a short packet),
    // so a reader that reaches them has the whole reply. False, with nothing taken,
    // when the bytes would not fit in the capacity.
    bool append(std::span<const std::uint8_t> bytes, bool endsMessage = false);

    // Bytes buffered now; when none are, waits up to `wait` for the first to arrive.
    std::size_t waitForData(Duration wait);

    // Takes up to dst.size() bytes. Short of the count it waits for more, up to
    // `timeout`, unless it has just taken the end of a message. Returns how many it
    // took; fewer than asked is not an error.
    std::size_t read(std::span<std::uint8_t> dst, Duration timeout);

    void clear();
    std::size_t size() const;

    // The device is gone: wakes every waiter, and all later waits return at once.
    void markBroken();
    bool broken() const;

  private:
    // Takes what is there; true if the last byte taken ended a message.
    bool take(std::span<std::uint8_t> dst, std::size_t& taken);

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::uint8_t> bytes_;
    std::deque<std::uint64_t> messageEnds_; // stream positions just past a message
    std::uint64_t takenTotal_ = 0;          // stream position of bytes_.front()
    bool broken_ = false;
};

} // namespace telmar::usb
