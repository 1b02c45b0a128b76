// SPDX-License-Identifier: MIT
#include "tests/usb/emulation/BoxResponder.h"

#include "sim/Box.h"

#include <chrono>
#include <memory>
#include <mutex>

namespace telmar::test::usbemu {

Responder boxResponder(const std::string& serial) {
    struct State {
        std::mutex mutex;
        sim::Box box;
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        explicit State(const std::string& s) : box(s) {}
    };
    auto state = std::make_shared<State>(serial);
    return
        [state](std::span<const std::uint8_t> frame) -> std::optional<std::vector<std::uint8_t>> {
            std::lock_guard lock(state->mutex);
            const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - state->start);
            auto outcome = state->box.handleFrame(frame, static_cast<sim::BoxTimeMs>(now.count()));
            if (!outcome.reply) {
                return std::nullopt;
            }
            return std::vector<std::uint8_t>(outcome.reply->begin(), outcome.reply->end());
        };
}

} // namespace telmar::test::usbemu
