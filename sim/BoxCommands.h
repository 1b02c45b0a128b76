// SPDX-License-Identifier: MIT
#pragma once

#include "sim/Box.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace telmar::sim {

// What the boxes' commands need from the connections that carry them.
class Clients {
  public:
    struct Load {
        std::size_t connections = 0;
        std::size_t pendingReplies = 0;
        std::size_t queuedBytes = 0;
    };

    // Open handles on the box, not counting those on their way out.
    virtual std::size_t handleCount(std::size_t box) const = 0;
    // Sends a line to every open handle of the box; false when it has none.
    virtual bool tellHandles(std::size_t box, const std::string& line) = 0;
    // The box left the bus: its handles hear so and close, its replies underway are lost.
    virtual void unplugHandles(std::size_t box) = 0;
    virtual Load load() const = 0;
    virtual void stop() = 0;

  protected:
    ~Clients() = default;
};

// The simulated boxes behind the socket and every request about them: the device
// requests a driver makes (count, string, open), the frames of an open handle, and
// the control commands of telmar-sim. Answers are wire text, ready to send.
class BoxCommands {
  public:
    BoxCommands(const std::vector<std::string>& serials, const std::string& scenario,
                std::uint32_t delayMs, std::string socketPath, Clients& clients);

    // A request line of a connection without an open handle. `opened` names the box
    // when the connection has just become its handle.
    std::string request(std::vector<std::string> words, std::optional<std::size_t>& opened);
    // A frame written to an open handle of a plugged box: the reply it gets, if any.
    std::optional<Bytes> frame(std::size_t box, const Bytes& bytes);

    bool plugged(std::size_t box) const { return plugged_[box]; }
    std::uint32_t delayMs() const { return delayMs_; }

  private:
    BoxTimeMs boxTime() const;
    std::string deviceRequest(const std::vector<std::string>& words,
                              std::optional<std::size_t>& opened);
    std::string controlRequest(std::vector<std::string> words);
    std::string control(std::size_t box, const std::vector<std::string>& words,
                        std::vector<std::string>& lines);
    std::vector<std::size_t> deviceList() const;
    void unplug(std::size_t box);
    void pushFaults(std::size_t box);

    Clients& clients_;
    std::string socketPath_;
    std::uint32_t delayMs_;
    std::vector<Box> boxes_;
    std::vector<bool> plugged_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace telmar::sim
