// SPDX-License-Identifier: MIT
#pragma once

// The daemon's socket protocol: text lines, one request or event each, with bytes
// carried as hex. Plain enough to watch with a socket tool while debugging.
//
// Device requests (a fresh connection each):
//   count                  -> "ok count N" | "err ..."
//   string I OPTION        -> "ok string HEX" | "err ..."
//   open I                 -> "ok open F C Q", and the connection now is that handle
// On an open handle:
//   frame HEX              (client) a written frame; no immediate answer
//   data HEX               (daemon) reply bytes, sent after the reply delay
//   faults F C Q           (daemon) flush, close and queue-check failures to serve
//   unplugged              (daemon) the box left the bus; the connection closes
// Control (any connection): [box I] COMMAND ARGS... -> zero or more "| TEXT" lines,
// then "ok" or "err TEXT".

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace telmar::sim {

std::string toHex(std::span<const std::uint8_t> bytes);
// Upper or lower case, no separators. nullopt on odd length or a non-hex character.
std::optional<std::vector<std::uint8_t>> fromHex(std::string_view hex);

std::vector<std::string> splitWords(std::string_view line);

// $TELMAR_SIM_SOCKET, else $XDG_RUNTIME_DIR/telmar-sim.sock, else /tmp/telmar-sim-<uid>.sock.
std::string defaultSocketPath();

// Longest line either side accepts; a peer that sends more without a newline is cut off.
constexpr std::size_t kMaxLine = 64 * 1024;

// Collects received bytes and hands out complete lines (without the newline).
class LineBuffer {
  public:
    void append(const char* data, std::size_t size) { pending_.append(data, size); }
    std::optional<std::string> next();
    bool overflowed() const { return pending_.size() > kMaxLine; }
    std::string takeRest() { return std::move(pending_); }

  private:
    std::string pending_;
};

// Client side of a Unix stream socket. All calls are bounded in time.
namespace net {
// A connected socket, or -1 (no such socket, nobody listening, path too long).
int connectUnix(const std::string& path);
// Sends everything or fails; gives up after timeoutMs. Never raises SIGPIPE.
bool sendAll(int fd, std::string_view data, int timeoutMs);
// Reads until a complete line is buffered; nullopt on EOF, error or time-out.
std::optional<std::string> readLine(int fd, LineBuffer& buffer, int timeoutMs);
void closeFd(int fd);
} // namespace net

// One control request and its answer.
struct ControlReply {
    bool reached = false;           // a daemon answered
    bool ok = false;                // it answered "ok"
    std::vector<std::string> lines; // the "| " lines, without the prefix
    std::string error;              // after "err ", or why nobody answered
};
ControlReply sendControl(const std::string& socketPath, const std::string& request,
                         int timeoutMs = 10000);

} // namespace telmar::sim
