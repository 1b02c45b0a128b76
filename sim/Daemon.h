// SPDX-License-Identifier: MIT
#pragma once

#include "sim/BoxCommands.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace telmar::sim {

// What one daemon gives its clients at most, so that no client can starve the others
// or grow the daemon without bound. telmar-sim --help lists them.
struct DaemonLimits {
    std::size_t maxConnections = 256;       // and never more than the descriptor limit allows
    std::uint32_t idleMs = 10'000;          // a connection with no open handle and no traffic
    std::uint32_t idleHandleMs = 3'600'000; // an open handle with no traffic
    std::uint32_t stallMs = 10'000;         // answers queued and none of them taken
    std::uint32_t evictQuietMs = 500;       // when full, a connection this quiet makes room
    std::size_t readPerTurn = 16 * 1024;
    std::size_t outputHighWater = 64 * 1024; // above this, a client's requests wait
    std::size_t maxOutput = 1024 * 1024;     // queued for one connection
    std::size_t maxTotalOutput = 32 * 1024 * 1024;
    std::size_t maxPendingPerHandle = 256; // delayed replies; more frames get none
    std::size_t maxPending = 8192;
};

struct DaemonOptions {
    std::string socketPath;
    std::vector<std::string> serials = {"2031"};
    std::uint32_t delayMs = 1;
    std::string scenario = "1080p60";
    DaemonLimits limits;
    // Already connected sockets served as clients from the start, besides those that
    // come through the socket (one end of a socketpair, say); the daemon owns them.
    std::vector<int> clientFds;
};

// Carries the requests for the simulated boxes over a Unix socket: one thread, one
// poll loop, the connections with their limits and a fair share of each turn for
// every client. Replies to frames go out after the configured delay.
class Daemon : private Clients {
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

    // One turn of the loop, waiting at most maxWaitMs for something to do.
    void serveOnce(int maxWaitMs);
    bool stopping() const { return stopping_; }
    std::size_t connectionCount() const { return connections_.size(); }

    const std::string& socketPath() const { return options_.socketPath; }

  private:
    struct Connection;
    struct PendingReply {
        std::uint64_t connection;
        std::size_t box;
        Bytes bytes;
    };
    using Clock = std::chrono::steady_clock;

    std::size_t connectionLimit() const;
    void addConnection(int fd);
    void acceptClients();
    bool makeRoom();
    void dropAcceptedClient();
    void readFrom(Connection& c);
    void handleLines(Connection& c);
    std::optional<Clock::time_point> quietUntil(const Connection& c) const;
    void closeQuiet(Clock::time_point now);
    Clock::time_point nextDeadline() const;
    void handleLine(Connection& c, const std::string& line);
    void handleFrame(Connection& c, const std::string& hex);
    void deliverDue();
    void send(Connection& c, std::string text);
    void flushOutput(Connection& c);
    void closeConnection(std::uint64_t id);
    void closeAll();

    std::size_t handleCount(std::size_t box) const override;
    bool tellHandles(std::size_t box, const std::string& line) override;
    void unplugHandles(std::size_t box) override;
    Load load() const override;
    void stop() override { stopping_ = true; }

    DaemonOptions options_;
    BoxCommands commands_;
    int listenFd_ = -1;
    int spareFd_ = -1; // given up to accept and drop a client when descriptors run out
    Clock::time_point acceptPausedUntil_{};
    int stopPipe_[2] = {-1, -1};
    bool stopping_ = false;
    bool ownsSocket_ = false;
    std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
    std::uint64_t nextConnection_ = 1;
    std::multimap<Clock::time_point, PendingReply> pending_;
    std::size_t totalOutput_ = 0;
};

} // namespace telmar::sim
