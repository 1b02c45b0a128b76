// SPDX-License-Identifier: MIT
// The libusb backend's receive buffer driven by a sequence of operations, against a
// plain first-in first-out model. Nothing waits: every time-out is zero.

#include "tests/fuzz/FuzzCheck.h"
#include "usb/ReceiveBuffer.h"

#include <deque>
#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using telmar::usb::ReceiveBuffer;
    FuzzedDataProvider in(data, size);
    // Small, so the inputs reach the capacity.
    constexpr std::size_t kCapacity = 256;
    ReceiveBuffer buffer(kCapacity);
    std::deque<std::uint8_t> model;
    bool broken = false;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0: {
            const auto bytes = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 80));
            const bool fits = model.size() + bytes.size() <= kCapacity;
            FUZZ_CHECK(buffer.append(bytes, in.ConsumeBool()) == fits);
            if (fits) {
                model.insert(model.end(), bytes.begin(), bytes.end());
            }
            break;
        }
        case 1: {
            std::vector<std::uint8_t> dst(in.ConsumeIntegralInRange(0, 200));
            const auto n = buffer.read(dst, ReceiveBuffer::Duration(0));
            FUZZ_CHECK(n == std::min(dst.size(), model.size()));
            FUZZ_CHECK(std::equal(dst.begin(), dst.begin() + static_cast<std::ptrdiff_t>(n),
                                  model.begin()));
            model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(n));
            break;
        }
        case 2:
            buffer.clear();
            model.clear();
            break;
        case 3:
            FUZZ_CHECK(buffer.waitForData(ReceiveBuffer::Duration(0)) == model.size());
            break;
        case 4:
            buffer.markBroken();
            broken = true;
            break;
        default:
            break;
        }
        FUZZ_CHECK(buffer.size() == model.size());
        FUZZ_CHECK(buffer.broken() == broken);
    }
    return 0;
}
