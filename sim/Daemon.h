// SPDX-License-Identifier: MIT
#pragma once

#include "sim/Box.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace telmar::sim {

struct DaemonOptions {
    std::string socketPath;
    std::vector<std::string> serials = {"2031"};
    std::uint32_t delayMs = 1;
    std::string scenario = "1080p60";
};

// Serves the simulated boxes on a Unix socket: one thread, one poll loop. Replies go
// out after the configured delay; control requests change the boxes at run time.
class Daemon {
  public:
    explicit Daemon(DaemonOptions options);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Creates the socket. Refuses a path where another simulator answers or where
    // something that is not our own socket lies.
    bool listen(std::string& error);
    // Runs until a "stop" request or requestStop(); removes the socket on the way out.
    void run();
    // Safe to call from a signal handler.
    void requestStop();

    const std::string& socketPath() const { return options_.socketPath; }

  private:
    struct Connection;
    struct PendingReply {
        std::uint64_t connection;
        std::size_t box;
        Bytes bytes;
    };
    using Clock = std::chrono::steady_clock;

    BoxTimeMs boxTime() const;
    void acceptClients();
    void readFrom(Connection& c);
    void handleLine(Connection& c, const std::string& line);
    void handleFrame(Connection& c, const std::string& hex);
    void handleDeviceRequest(Connection& c, const std::vector<std::string>& words);
    void handleControl(Connection& c, std::vector<std::string> words);
    std::string control(std::size_t box, const std::vector<std::string>& words,
                        std::vector<std::string>& lines);
    void deliverDue();
    void unplug(std::size_t box);
    void pushFaults(std::size_t box);
    void send(Connection& c, std::string text);
    void flushOutput(Connection& c);
    std::vector<std::size_t> deviceList() const;
    std::size_t handleCount(std::size_t box) const;
    void closeConnection(std::uint64_t id);

    DaemonOptions options_;
    std::vector<Box> boxes_;
    std::vector<bool> plugged_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    bool stopping_ = false;
    bool ownsSocket_ = false;
    Clock::time_point start_;
    std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
    std::uint64_t nextConnection_ = 1;
    std::multimap<Clock::time_point, PendingReply> pending_;
};

} // namespace telmar::sim
