// SPDX-License-Identifier: MIT
#include "usb/ReceiveBuffer.h"

#include <array>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using telmar::usb::ReceiveBuffer;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes take(ReceiveBuffer& buffer, std::size_t count, std::chrono::milliseconds timeout = 0ms) {
    Bytes out(count);
    out.resize(buffer.read(out, timeout));
    return out;
}

TEST(ReceiveBuffer, CountsWhatArrivedAcrossTransfers) {
    ReceiveBuffer buffer;
    EXPECT_EQ(buffer.waitForData(0ms), 0u);
    buffer.append(Bytes{0xE0, 0x00});
    buffer.append(Bytes{});
    buffer.append(Bytes{0x01, 0x02, 0x03});
    EXPECT_EQ(buffer.waitForData(0ms), 5u);
    EXPECT_EQ(buffer.size(), 5u);
}

TEST(ReceiveBuffer, PartialReadsKeepOrderAndTheRest) {
    ReceiveBuffer buffer;
    buffer.append(Bytes{1, 2, 3, 4, 5});
    EXPECT_EQ(take(buffer, 2), (Bytes{1, 2}));
    EXPECT_EQ(buffer.size(), 3u);
    // Asking for more than is there returns what is there once the time-out ends.
    EXPECT_EQ(take(buffer, 64, 5ms), (Bytes{3, 4, 5}));
    EXPECT_EQ(take(buffer, 64), Bytes{});
}

TEST(ReceiveBuffer, FlushDropsEverythingBuffered) {
    ReceiveBuffer buffer;
    buffer.append(Bytes{9, 9, 9});
    buffer.clear();
    EXPECT_EQ(buffer.size(), 0u);
    buffer.append(Bytes{7});
    EXPECT_EQ(take(buffer, 8), Bytes{7});
}

TEST(ReceiveBuffer, ReadEndsAtTheEndOfTheBoxsReply) {
    ReceiveBuffer buffer;
    buffer.append(Bytes{0xE0, 0x00}, true);
    buffer.append(Bytes{0xE1, 0x05}, true);
    // A long time-out that must not be sat out: the reply ended after two bytes.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(take(buffer, 64, 10s), (Bytes{0xE0, 0x00, 0xE1, 0x05}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    // A read that stops inside a reply leaves its end for the next read.
    buffer.append(Bytes{1, 2, 3}, true);
    EXPECT_EQ(take(buffer, 2, 10s), (Bytes{1, 2}));
    EXPECT_EQ(take(buffer, 64, 10s), Bytes{3});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    // A flush forgets the ends of the replies it dropped.
    buffer.append(Bytes{4}, true);
    buffer.clear();
    buffer.append(Bytes{5, 6});
    EXPECT_EQ(take(buffer, 64, 5ms), (Bytes{5, 6}));
}

TEST(ReceiveBuffer, ReadWaitsForTheRestUntilItIsComplete) {
    ReceiveBuffer buffer;
    buffer.append(Bytes{1});
    std::thread sender([&] {
        buffer.append(Bytes{2, 3});
        buffer.append(Bytes{4, 5}, true);
    });
    // A long time-out that ends early because the count is met.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(take(buffer, 4, 10s), (Bytes{1, 2, 3, 4}));
    sender.join();
    EXPECT_EQ(take(buffer, 4, 10s), Bytes{5});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(ReceiveBuffer, QueueCheckWakesWhenDataArrives) {
    ReceiveBuffer buffer;
    std::thread sender([&] { buffer.append(Bytes{0xE1}); });
    const auto start = std::chrono::steady_clock::now();
    std::size_t n = 0;
    while (n == 0 && std::chrono::steady_clock::now() - start < 5s) {
        n = buffer.waitForData(10s);
    }
    EXPECT_EQ(n, 1u);
    sender.join();
}

TEST(ReceiveBuffer, BrokenBufferReleasesWaitersAtOnce) {
    ReceiveBuffer buffer;
    buffer.append(Bytes{1});
    std::thread breaker([&] { buffer.markBroken(); });
    const auto start = std::chrono::steady_clock::now();
    const Bytes got = take(buffer, 4, 10s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(got, Bytes{1});
    breaker.join();
    EXPECT_TRUE(buffer.broken());
    EXPECT_EQ(buffer.waitForData(10s), 0u); // returns at once, nothing buffered
}

// A device that keeps sending while nobody reads must not grow the buffer: what does
// not fit is refused whole, and what was taken stays readable.
TEST(ReceiveBuffer, RefusesBytesPastItsCapacity) {
    ReceiveBuffer buffer(8);
    EXPECT_TRUE(buffer.append(Bytes{1, 2, 3, 4, 5}));
    EXPECT_FALSE(buffer.append(Bytes{6, 7, 8, 9}));
    EXPECT_TRUE(buffer.append(Bytes{6, 7, 8}));
    EXPECT_FALSE(buffer.append(Bytes{9}));
    EXPECT_EQ(buffer.size(), 8u);
    EXPECT_EQ(take(buffer, 3), (Bytes{1, 2, 3}));
    EXPECT_TRUE(buffer.append(Bytes{9, 10, 11}));
    EXPECT_EQ(take(buffer, 64), (Bytes{4, 5, 6, 7, 8, 9, 10, 11}));
}

} // namespace
