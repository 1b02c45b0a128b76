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

#include "base/Hex.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace telmar::sim {

// Hex without separators, either case when read.
using base::fromHex;
using base::toHex;

std::vector<std::string> splitWords(std::string_view line);

// $TELMAR_SIM_SOCKET, else $XDG_RUNTIME_DIR/telmar-sim.sock, else
// /tmp/telmar-sim-<uid>/sim.sock in a folder only its owner may use.
std::string defaultSocketPath();
// The private folder the default path lies in (base::preparePrivateFolder makes and
// checks it), or "" when a variable chose the path.
std::string defaultPrivateFolder();

// Longest socket path a Unix socket address holds.
constexpr std::size_t kMaxSocketPath = 107;
// "" when `path` can be a socket address, else why not.
std::string socketPathProblem(const std::string& path);

// Longest line either side accepts; a peer that sends more without a newline is cut off.
constexpr std::size_t kMaxLine = 64 * 1024;

// Collects received bytes and hands out complete lines (without the newline). A line
// longer than kMaxLine, or more than twice that not taken yet, marks it overflowed and
// the rest is dropped, so a peer that streams cannot grow it.
class LineBuffer {
  public:
    void append(const char* data, std::size_t size);
    std::optional<std::string> next();
    bool hasLine() const { return pending_.find('\n', start_) != std::string::npos; }
    bool overflowed() const { return overflowed_; }
    std::string takeRest();

  private:
    std::string pending_;
    std::size_t start_ = 0; // lines before this were handed out
    bool overflowed_ = false;
};

// Client side of a Unix stream socket. All calls are bounded in time.
namespace net {
constexpr int kConnectTimeoutMs = 2000;
struct ConnectError {
    enum class Kind {
        None,
        NoServer, // no socket there, or nobody listens on it
        BadPath,  // empty or too long for a socket address
        Busy,     // a listener that did not take the connection in time
        Foreign,  // served by another user: never trusted
        Failed,   // anything else
    };
    Kind kind = Kind::None;
    std::string text;
};
// A connected, non-blocking socket whose peer runs as this user, or -1 with the reason.
int connectUnix(const std::string& path, int timeoutMs = kConnectTimeoutMs,
                ConnectError* error = nullptr);
// Sends everything or fails; gives up after timeoutMs. Never raises SIGPIPE.
bool sendAll(int fd, std::string_view data, int timeoutMs);
// Reads until a complete line is buffered; nullopt on EOF, error or time-out.
std::optional<std::string> readLine(int fd, LineBuffer& buffer, int timeoutMs);
void closeFd(int fd);
} // namespace net

// Most a control answer may hold in all; a flash dump needs about 260 kB.
constexpr std::size_t kMaxControlAnswer = 4 * 1024 * 1024;

// One control request and its answer, all within timeoutMs.
struct ControlReply {
    bool reached = false;           // a daemon answered
    bool ok = false;                // it answered "ok"
    std::vector<std::string> lines; // the "| " lines, without the prefix
    std::string error;              // after "err ", or why nobody answered
};
ControlReply sendControl(const std::string& socketPath, const std::string& request,
                         int timeoutMs = 10000);

} // namespace telmar::sim
