// SPDX-License-Identifier: MIT
#include "sim/BoxCommands.h"

#include "base/Hex.h"
#include "base/Numbers.h"
#include "sim/Wire.h"

#include <cstdlib>

namespace telmar::sim {

namespace {
std::optional<std::uint8_t> statusBlockNamed(const std::string& text) {
    if (text.size() != 2 || text[0] != '1' || text[1] < '1' || text[1] > '5') {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(10 + (text[1] - '0'));
}

// The faults an open handle serves itself: "FLUSH CLOSE QUEUE".
std::string handleFaults(const Faults& f) {
    return std::to_string(f.flush) + " " + std::to_string(f.close) + " " + std::to_string(f.queue);
}
} // namespace

BoxCommands::BoxCommands(const std::vector<std::string>& serials, const std::string& scenario,
                         std::uint32_t delayMs, std::string socketPath, Clients& clients)
    : clients_(clients), socketPath_(std::move(socketPath)), delayMs_(delayMs),
      start_(std::chrono::steady_clock::now()) {
    for (const auto& serial : serials) {
        boxes_.emplace_back(serial).setScenario(scenario, 0);
        plugged_.push_back(true);
    }
}

BoxTimeMs BoxCommands::boxTime() const {
    return static_cast<BoxTimeMs>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - start_)
                                      .count());
}

std::string BoxCommands::request(std::vector<std::string> words,
                                 std::optional<std::size_t>& opened) {
    if (words[0] == "count" || words[0] == "string" || words[0] == "open") {
        return deviceRequest(words, opened);
    }
    return controlRequest(std::move(words));
}

std::optional<Bytes> BoxCommands::frame(std::size_t box, const Bytes& bytes) {
    auto outcome = boxes_[box].handleFrame(bytes, boxTime());
    if (outcome.unplug) {
        unplug(box);
        return std::nullopt;
    }
    return std::move(outcome.reply);
}

std::vector<std::size_t> BoxCommands::deviceList() const {
    std::vector<std::size_t> list;
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        if (plugged_[i]) {
            list.push_back(i);
        }
    }
    return list;
}

std::string BoxCommands::deviceRequest(const std::vector<std::string>& words,
                                       std::optional<std::size_t>& opened) {
    const auto list = deviceList();
    const auto deviceIndex = [&](const std::string& text) -> std::optional<std::size_t> {
        const auto i = base::parseNumber<std::size_t>(text);
        if (!i || *i >= list.size()) {
            return std::nullopt;
        }
        return list[*i];
    };
    if (words[0] == "count" && words.size() == 1) {
        for (auto& box : boxes_) {
            if (fire(box.faults().count)) {
                return "err count failed\n";
            }
        }
        return "ok count " + std::to_string(list.size()) + "\n";
    }
    if (words[0] == "string" && words.size() == 3) {
        const auto box = deviceIndex(words[1]);
        if (!box) {
            return "err no such device\n";
        }
        if (fire(boxes_[*box].faults().string)) {
            return "err string unreadable\n";
        }
        // By option: serial number, description, link name, vendor and product id.
        const std::string texts[] = {boxes_[*box].serial(), "TELMAR (simulated)",
                                     "sim:" + socketPath_ + "#" + std::to_string(*box), "0000",
                                     "0000"};
        const auto option =
            words[2].size() == 1 ? base::parseNumber<std::size_t>(words[2], 4) : std::nullopt;
        if (!option) {
            return "err bad option\n";
        }
        const std::vector<std::uint8_t> bytes(texts[*option].begin(), texts[*option].end());
        return "ok string " + toHex(bytes) + "\n";
    }
    if (words[0] == "open" && words.size() == 2) {
        const auto box = deviceIndex(words[1]);
        if (!box) {
            return "err no such device\n";
        }
        if (fire(boxes_[*box].faults().open)) {
            return "err open failed\n";
        }
        // Like a real device's exclusive claim: one open handle per box.
        if (clients_.handleCount(*box) != 0) {
            return "err busy\n";
        }
        opened = *box;
        // Faults waiting for a handle come with the answer, so none can be missed.
        Faults& f = boxes_[*box].faults();
        const std::string answer = "ok open " + handleFaults(f) + "\n";
        f.flush = f.close = f.queue = 0;
        return answer;
    }
    return "err bad request\n";
}

std::string BoxCommands::controlRequest(std::vector<std::string> words) {
    std::size_t box = 0;
    if (words[0] == "box") {
        const auto i = words.size() > 2 ? base::parseNumber<std::size_t>(words[1]) : std::nullopt;
        if (!i || *i >= boxes_.size()) {
            return "err no such box\n";
        }
        box = *i;
        words.erase(words.begin(), words.begin() + 2);
    }
    std::vector<std::string> lines;
    const std::string error = control(box, words, lines);
    std::string answer;
    for (const auto& line : lines) {
        answer.append("| ").append(line).append("\n");
    }
    answer += error.empty() ? "ok\n" : "err " + error + "\n";
    return answer;
}

std::string BoxCommands::control(std::size_t b, const std::vector<std::string>& words,
                                 std::vector<std::string>& lines) {
    Box& box = boxes_[b];
    const std::string& cmd = words[0];
    const auto argc = words.size() - 1;
    if (cmd == "status" && argc == 0) {
        const std::size_t handles = clients_.handleCount(b);
        lines.push_back("box=" + std::to_string(b) + " boxes=" + std::to_string(boxes_.size()) +
                        " plugged=" + (plugged_[b] ? "1" : "0") + " handles=" +
                        std::to_string(handles) + " delay-ms=" + std::to_string(delayMs_));
        for (auto& line : box.statusLines(boxTime())) {
            lines.push_back(std::move(line));
        }
        const auto load = clients_.load();
        lines.push_back("clients=" + std::to_string(load.connections) +
                        " pending=" + std::to_string(load.pendingReplies) +
                        " queued-bytes=" + std::to_string(load.queuedBytes));
        return {};
    }
    if (cmd == "scenarios" && argc == 0) {
        for (const auto& s : scenarios()) {
            lines.push_back(std::string(s.name) + "  " + std::string(s.description));
        }
        lines.push_back(std::string(kDemoScenario) + "  all of the above in turn");
        return {};
    }
    if (cmd == "scenario" && argc == 1) {
        if (!box.setScenario(words[1], boxTime())) {
            return "unknown scenario " + words[1] + " (telmar-sim scenarios lists them)";
        }
        return {};
    }
    if (cmd == "switches" && argc == 2) {
        const auto edid = parseSwitchPosition(words[1]);
        const auto audio = parseSwitchPosition(words[2]);
        if (!edid || !audio) {
            return "switch positions are up, mid or dn";
        }
        box.setSwitches({*edid, *audio});
        return {};
    }
    if (cmd == "fault" && argc >= 1) {
        const std::vector<std::string> args(words.begin() + 1, words.end());
        if (auto error = applyFault(box.faults(), args); !error.empty()) {
            return error;
        }
        if (box.faults().unplugAfter == 0) {
            box.faults().unplugAfter.reset();
            unplug(b);
        }
        if (args[0] == "clear") {
            clients_.tellHandles(b, "faults clear\n");
        }
        pushFaults(b);
        return {};
    }
    if (cmd == "unplug" && argc == 0) {
        unplug(b);
        return {};
    }
    if (cmd == "plug" && argc == 0) {
        plugged_[b] = true;
        return {};
    }
    if (cmd == "flash" && argc == 1) {
        const auto chip = flashChipNamed(words[1]);
        if (!chip) {
            return "flash is fpga1 or fpga2";
        }
        const Bytes& flash = box.flash(*chip);
        for (std::size_t at = 0; at < flash.size(); at += 64) {
            const auto n = std::min<std::size_t>(64, flash.size() - at);
            lines.push_back(toHex(std::span(flash).subspan(at, n)));
        }
        return {};
    }
    if (cmd == "delay" && argc == 1) {
        const auto ms = base::parseNumber<std::uint32_t>(words[1], 60'000);
        if (!ms) {
            return "delay is 0 to 60000 ms";
        }
        delayMs_ = *ms;
        return {};
    }
    if (cmd == "block" && argc >= 1 && argc % 2 == 1 && argc > 1) {
        return "block takes a block number, or pairs of a block number and its bytes in hex";
    }
    if (cmd == "block" && argc == 1) {
        const auto block = statusBlockNamed(words[1]);
        const auto bytes = block ? box.blockBytes(*block, boxTime()) : std::nullopt;
        if (!bytes) {
            return "block is 11 to 15";
        }
        lines.push_back(base::hexBytes(*bytes));
        return {};
    }
    if (cmd == "block" && argc >= 2) {
        // All or none, so that a poll never sees half of what was meant as one input.
        std::vector<std::pair<std::uint8_t, Bytes>> blocks;
        for (std::size_t i = 1; i + 1 < words.size(); i += 2) {
            const auto block = statusBlockNamed(words[i]);
            auto bytes = fromHex(words[i + 1]);
            if (!block) {
                return "block is 11 to 15";
            }
            if (!bytes || bytes->size() > kMaxReply - 1) {
                return "a block's bytes are at most 63, in hex";
            }
            blocks.emplace_back(*block, std::move(*bytes));
        }
        for (const auto& [block, bytes] : blocks) {
            box.setBlock(block, bytes);
        }
        return {};
    }
    if (cmd == "stop" && argc == 0) {
        clients_.stop();
        return {};
    }
    return "unknown command or wrong arguments: " + cmd;
}

void BoxCommands::unplug(std::size_t box) {
    plugged_[box] = false;
    clients_.unplugHandles(box);
}

void BoxCommands::pushFaults(std::size_t box) {
    Faults& f = boxes_[box].faults();
    // Handed over to the open handles; with none open they wait for the next open.
    if ((f.flush != 0 || f.close != 0 || f.queue != 0) &&
        clients_.tellHandles(box, "faults " + handleFaults(f) + "\n")) {
        f.flush = f.close = f.queue = 0;
    }
}

} // namespace telmar::sim
