// SPDX-License-Identifier: MIT
#include "sim/Faults.h"

#include "base/Numbers.h"

#include <algorithm>
#include <array>
#include <sstream>
#include <utility>

namespace telmar::sim {

namespace {

constexpr std::array<std::string_view, kFrameKindCount> kKindNames = {
    "register", "block", "settings", "enter-isp", "block-index", "packet", "exit-isp", "reset",
};

// The faults that only count down, in the order describe() names them.
constexpr std::pair<std::string_view, FaultCount Faults::*> kDriverFaults[] = {
    {"count", &Faults::count}, {"string", &Faults::string}, {"open", &Faults::open},
    {"flush", &Faults::flush}, {"close", &Faults::close},   {"queue", &Faults::queue},
};

std::optional<std::uint64_t> parseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    return base::parseNumber<std::uint64_t>(text, UINT64_MAX, base);
}

// An optional trailing count: absent means once.
std::optional<FaultCount> parseCount(std::span<const std::string> args, std::size_t at) {
    if (args.size() <= at) {
        return 1;
    }
    if (args.size() > at + 1) {
        return std::nullopt;
    }
    if (args[at] == "always") {
        return kAlways;
    }
    const auto n = parseNumber(args[at]);
    if (!n || *n > 1'000'000'000) {
        return std::nullopt;
    }
    return static_cast<FaultCount>(*n);
}

void describeCount(std::ostringstream& out, std::string_view name, FaultCount n,
                   std::string_view extra = {}) {
    if (n == 0) {
        return;
    }
    out << ' ' << name << extra << '=';
    if (n == kAlways) {
        out << "always";
    } else {
        out << n;
    }
}

} // namespace

FrameKind classifyFrame(std::span<const std::uint8_t> f) {
    const auto n = f.size();
    if (n == 5 && f[0] == 0x10 && f[1] == 0x04 && f[2] == 0xE0) {
        return FrameKind::WriteRegister;
    }
    if (n == 4 && f[0] == 0x11 && f[2] == 0xE0) {
        return FrameKind::ReadBlock;
    }
    if (n == 3 && f[0] == 0x11 && f[1] == 0x01 && f[2] == 0xDC) {
        return FrameKind::ResetBox;
    }
    if (n == 3 && f[0] == 0x11 && f[2] == 0xE1) {
        return FrameKind::ReadSettings;
    }
    if (n == 5 && f[0] == 0x10 && f[1] == 0x05) {
        if ((f[2] == 0xC8 || f[2] == 0x78) && f[3] == 0x0F && f[4] == 0x40) {
            return FrameKind::EnterIsp;
        }
        if (f[2] == 0x50 && f[3] == 0x01) {
            return FrameKind::SetBlockIndex;
        }
        if (f[2] == 0x50 && f[3] == 0x02 && f[4] == 0x00) {
            return FrameKind::ExitIsp;
        }
    }
    if (n == 21 && f[0] == 0x10 && f[1] == 0x15 && f[2] == 0x50 && f[3] == 0x41 && f[4] == 0x10) {
        return FrameKind::WriteFlashPacket;
    }
    return FrameKind::Unknown;
}

std::optional<FrameKind> frameKindFromName(std::string_view name) {
    const auto found = std::ranges::find(kKindNames, name);
    return found == kKindNames.end()
               ? std::nullopt
               : std::optional(static_cast<FrameKind>(found - kKindNames.begin()));
}

std::string Faults::describe() const {
    std::ostringstream out;
    describeCount(out, "drop", drop);
    if (truncate != 0) {
        describeCount(out, "truncate", truncate,
                      std::string(":").append(std::to_string(truncateTo)));
    }
    if (wrongByte0 != 0) {
        std::ostringstream value;
        value << ":0x" << std::hex << static_cast<unsigned>(byte0Value);
        describeCount(out, "byte0", wrongByte0, value.str());
    }
    for (std::size_t i = 0; i < kFrameKindCount; ++i) {
        describeCount(out, "reject", reject[i], std::string(":").append(kKindNames[i]));
    }
    describeCount(out, "reject-packet-in", rejectPacketIn);
    if (silenceAfter) {
        out << " silence-after=" << *silenceAfter;
    }
    if (unplugAfter) {
        out << " unplug-after=" << *unplugAfter;
    }
    for (const auto& [name, counter] : kDriverFaults) {
        describeCount(out, name, this->*counter);
    }
    const auto text = out.str();
    return text.empty() ? "none" : text.substr(1);
}

std::string applyFault(Faults& faults, std::span<const std::string> args) {
    if (args.empty()) {
        return "fault: what fault?";
    }
    const std::string& what = args[0];
    const auto bad = [&] { return "fault " + what + ": bad arguments"; };

    if (what == "clear") {
        if (args.size() != 1) {
            return bad();
        }
        faults = Faults{};
        return {};
    }
    if (what == "truncate" || what == "byte0" || what == "reject") {
        if (args.size() < 2) {
            return bad();
        }
        const auto count = parseCount(args, 2);
        if (!count) {
            return bad();
        }
        if (what == "reject") {
            const auto kind = frameKindFromName(args[1]);
            // Only the programming frames carry an accept byte.
            if (!kind || (*kind != FrameKind::EnterIsp && *kind != FrameKind::SetBlockIndex &&
                          *kind != FrameKind::WriteFlashPacket && *kind != FrameKind::ExitIsp)) {
                return "fault reject: KIND is one of enter-isp block-index packet exit-isp";
            }
            faults.reject[static_cast<std::size_t>(*kind)] = *count;
            return {};
        }
        const auto value = parseNumber(args[1]);
        if (!value || *value > (what == "truncate" ? 64U : 0xFFU)) {
            return bad();
        }
        if (what == "truncate") {
            faults.truncateTo = static_cast<std::size_t>(*value);
            faults.truncate = *count;
        } else {
            faults.byte0Value = static_cast<std::uint8_t>(*value);
            faults.wrongByte0 = *count;
        }
        return {};
    }
    if (what == "reject-packet" || what == "silence-after" || what == "unplug-after") {
        if (args.size() != 2) {
            return bad();
        }
        const auto k = parseNumber(args[1]);
        if (!k || *k > 1'000'000'000 || (what == "reject-packet" && *k == 0)) {
            return bad();
        }
        const auto n = static_cast<FaultCount>(*k);
        if (what == "reject-packet") {
            faults.rejectPacketIn = n;
        } else if (what == "silence-after") {
            faults.silenceAfter = n;
        } else {
            faults.unplugAfter = n;
        }
        return {};
    }
    FaultCount* counter = what == "drop" ? &faults.drop : nullptr;
    for (const auto& [name, member] : kDriverFaults) {
        counter = what == name ? &(faults.*member) : counter;
    }
    if (counter == nullptr) {
        return "fault: unknown fault " + what;
    }
    const auto count = parseCount(args, 1);
    if (!count) {
        return bad();
    }
    *counter = *count;
    return {};
}

std::string_view faultUsage() {
    return "  fault clear                  switch every fault off\n"
           "  fault drop [N]               the next N replies are lost\n"
           "  fault truncate LEN [N]       cut the next N replies to LEN bytes\n"
           "  fault byte0 VALUE [N]        reply byte 0 is VALUE (e.g. 0xE1) on the next N "
           "replies\n"
           "  fault reject KIND [N]        refuse the next N frames of KIND (reply byte 1 is 00):\n"
           "                               enter-isp block-index packet exit-isp\n"
           "  fault reject-packet K        refuse the K-th flash packet from now (1 = the next)\n"
           "  fault silence-after K        answer K more frames, then none until cleared\n"
           "  fault unplug-after K         answer K more frames, leave the bus when the next\n"
           "                               one comes (0 = leave now)\n"
           "  fault count|string|open [N]  the driver's device count, this box's serial\n"
           "                               string, or opening it fails N times\n"
           "  fault flush|close|queue [N]  flush, close or receive-queue check on an open\n"
           "                               handle of this box fails N times\n"
           "  N is a number or \"always\"; it defaults to 1.\n";
}

} // namespace telmar::sim
