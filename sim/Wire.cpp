// SPDX-License-Identifier: MIT
#include "sim/Wire.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace telmar::sim {

namespace {

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

} // namespace

std::vector<std::string> splitWords(std::string_view line) {
    constexpr std::string_view kBlanks = " \t\r";
    std::vector<std::string> words;
    std::size_t end = 0;
    for (auto start = line.find_first_not_of(kBlanks); start != std::string_view::npos;
         start = line.find_first_not_of(kBlanks, end)) {
        end = std::min(line.find_first_of(kBlanks, start), line.size());
        words.emplace_back(line.substr(start, end - start));
    }
    return words;
}

static_assert(kMaxSocketPath + 1 == sizeof(sockaddr_un{}.sun_path));

std::string defaultSocketPath() {
    if (const char* env = std::getenv("TELMAR_SIM_SOCKET"); env != nullptr && *env != '\0') {
        return env;
    }
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir != nullptr && *dir != '\0') {
        return std::string(dir) + "/telmar-sim.sock";
    }
    return defaultPrivateFolder() + "/sim.sock";
}

std::string defaultPrivateFolder() {
    const char* env = std::getenv("TELMAR_SIM_SOCKET");
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if ((env != nullptr && *env != '\0') || (dir != nullptr && *dir != '\0')) {
        return {};
    }
    // /tmp is shared: whoever makes a name there first owns it, so the socket lives in a
    // folder that is checked before use rather than under a guessable name of its own.
    return "/tmp/telmar-sim-" + std::to_string(::getuid());
}

std::string socketPathProblem(const std::string& path) {
    if (path.empty()) {
        return "the socket path is empty";
    }
    if (path.size() > kMaxSocketPath) {
        return "the socket path is " + std::to_string(path.size()) + " bytes long; at most " +
               std::to_string(kMaxSocketPath) + " fit in a socket address";
    }
    if (path.find('\0') != std::string::npos) {
        return "the socket path holds a zero byte";
    }
    return {};
}

void LineBuffer::append(const char* data, std::size_t size) {
    if (overflowed_) {
        return;
    }
    if (start_ > 0 && start_ * 2 >= pending_.size()) {
        pending_.erase(0, start_);
        start_ = 0;
    }
    // Room for a full line plus the complete lines a caller has not taken yet.
    if (pending_.size() - start_ + size > 2 * kMaxLine) {
        overflowed_ = true;
        return;
    }
    pending_.append(data, size);
    const auto lastNewline = pending_.rfind('\n');
    const std::size_t partialStart =
        (lastNewline == std::string::npos || lastNewline < start_) ? start_ : lastNewline + 1;
    overflowed_ = pending_.size() - partialStart > kMaxLine;
}

std::optional<std::string> LineBuffer::next() {
    const auto end = pending_.find('\n', start_);
    if (end == std::string::npos) {
        return std::nullopt;
    }
    std::string line = pending_.substr(start_, end - start_);
    start_ = end + 1;
    if (start_ == pending_.size()) {
        pending_.clear();
        start_ = 0;
    }
    return line;
}

std::string LineBuffer::takeRest() {
    std::string rest = pending_.substr(start_);
    pending_.clear();
    start_ = 0;
    return rest;
}

namespace net {

int connectUnix(const std::string& path, int timeoutMs, ConnectError* error) {
    using Kind = ConnectError::Kind;
    const auto fail = [&](int fd, Kind kind, std::string text) {
        if (fd >= 0) {
            ::close(fd);
        }
        if (error != nullptr) {
            *error = {kind, std::move(text)};
        }
        return -1;
    };
    if (auto problem = socketPathProblem(path); !problem.empty()) {
        return fail(-1, Kind::BadPath, problem + ": " + path);
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return fail(-1, Kind::Failed, std::string("socket: ") + std::strerror(errno));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EINPROGRESS) {
            // The listener's queue is full: it is not taking connections (yet).
            const int left = remainingMs(deadline);
            if (left == 0) {
                return fail(fd, Kind::Busy,
                            "the simulator on " + path +
                                " is too busy to accept a connection (its queue is full)");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 10)));
            continue;
        }
        if (errno == ENOENT || errno == ECONNREFUSED || errno == ENOTDIR) {
            return fail(fd, Kind::NoServer, "no simulator answers on " + path);
        }
        return fail(fd, Kind::Failed, "cannot reach " + path + ": " + std::strerror(errno));
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        return fail(fd, Kind::Failed, "cannot tell who serves " + path);
    }
    if (peer.uid != ::getuid()) {
        return fail(fd, Kind::Foreign,
                    path + " is served by uid " + std::to_string(peer.uid) +
                        ", not by this user (uid " + std::to_string(::getuid()) +
                        "); refusing to talk to it");
    }
    return fd;
}

bool sendAll(int fd, std::string_view data, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            const int left = remainingMs(deadline);
            if (left == 0 || ::poll(&p, 1, left) <= 0 || (p.revents & (POLLERR | POLLHUP))) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

std::optional<std::string> readLine(int fd, LineBuffer& buffer, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto line = buffer.next()) {
            return line;
        }
        if (buffer.overflowed()) {
            return std::nullopt;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return std::nullopt;
        }
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

void closeFd(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

} // namespace net

ControlReply sendControl(const std::string& socketPath, const std::string& request, int timeoutMs) {
    ControlReply reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    net::ConnectError why;
    const int fd = net::connectUnix(socketPath, std::min(timeoutMs, net::kConnectTimeoutMs), &why);
    if (fd < 0) {
        reply.error = why.text;
        return reply;
    }
    LineBuffer buffer;
    // A simulator that turns the connection away ("err too many connections") may
    // close it before the request is through; what it said first still counts.
    const bool sent = net::sendAll(fd, request + "\n", remainingMs(deadline));
    std::size_t answerSize = 0;
    for (;;) {
        auto line = net::readLine(fd, buffer, sent ? remainingMs(deadline) : 0);
        if (!line) {
            reply.error = sent ? "no answer from the simulator on " + socketPath
                               : "the simulator on " + socketPath + " did not take the request";
            break;
        }
        answerSize += line->size() + 1;
        if (answerSize > kMaxControlAnswer) {
            reply.lines.clear();
            reply.error = "the simulator on " + socketPath + " answers more than it can mean";
            break;
        }
        if (line->rfind("| ", 0) == 0) {
            reply.lines.push_back(line->substr(2));
            continue;
        }
        reply.reached = true;
        if (*line == "ok") {
            reply.ok = true;
        } else {
            reply.error = line->rfind("err ", 0) == 0 ? line->substr(4) : *line;
        }
        break;
    }
    net::closeFd(fd);
    return reply;
}

} // namespace telmar::sim
