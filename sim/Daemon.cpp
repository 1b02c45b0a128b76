// SPDX-License-Identifier: MIT
#include "sim/Daemon.h"

#include "sim/Wire.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace telmar::sim {

namespace {
constexpr std::size_t kMaxFrame = 4096;
// Descriptors the daemon keeps for itself besides its clients.
constexpr rlim_t kReservedDescriptors = 16;
constexpr int kAcceptsPerTurn = 64;
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

// Words to a client about to be closed, if its socket takes them at once.
void sayLast(int fd, std::string_view text) {
    [[maybe_unused]] const auto n =
        ::send(fd, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}
} // namespace

struct Daemon::Connection {
    std::uint64_t id = 0;
    int fd = -1;
    LineBuffer in;
    std::string out;
    bool isHandle = false;
    std::size_t box = 0;
    bool closing = false; // close once `out` is sent
    bool dead = false;    // close now
    std::chrono::steady_clock::time_point lastActivity;
    std::size_t pending = 0;            // delayed replies on their way to this handle
    std::size_t produced = 0;           // bytes of answers made for it, ever
    std::size_t producedBeforeTurn = 0; // ... when this turn of the loop began
};

Daemon::Daemon(DaemonOptions options)
    : options_(std::move(options)),
      commands_(options_.serials, options_.scenario, options_.delayMs, options_.socketPath, *this) {
    for (const int fd : options_.clientFds) {
        addConnection(fd);
    }
}

Daemon::~Daemon() {
    closeAll();
    for (const int fd : {listenFd_, spareFd_, stopPipe_[0], stopPipe_[1]}) {
        net::closeFd(fd);
    }
}

// Takes the socket away before the clients see their connections close.
void Daemon::closeAll() {
    if (ownsSocket_) {
        ::unlink(options_.socketPath.c_str());
        ownsSocket_ = false;
    }
    for (auto& [id, c] : connections_) {
        ::close(c->fd);
    }
    connections_.clear();
    totalOutput_ = 0;
}

bool Daemon::listen(std::string& error) {
    const std::string& path = options_.socketPath;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (auto problem = socketPathProblem(path); !problem.empty()) {
        error = problem + ": " + path;
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || st.st_uid != ::getuid()) {
            error = path + " exists and is not a simulator socket of this user";
            return false;
        }
        net::ConnectError why;
        const int probe = net::connectUnix(path, net::kConnectTimeoutMs, &why);
        if (probe >= 0 || why.kind != net::ConnectError::Kind::NoServer) {
            net::closeFd(probe);
            error = "a simulator already serves on " + path;
            return false;
        }
        ::unlink(path.c_str()); // left behind by a simulator that died
    }
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const mode_t oldMask = ::umask(0077);
    const int bound = ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    ::umask(oldMask);
    if (bound != 0) {
        error = "cannot bind " + path + ": " + std::strerror(errno);
        return false;
    }
    ownsSocket_ = true;
    if (::listen(listenFd_, 64) != 0) {
        error = std::string("listen: ") + std::strerror(errno);
        return false;
    }
    spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return true;
}

void Daemon::addConnection(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto c = std::make_unique<Connection>();
    c->id = nextConnection_++;
    c->fd = fd;
    c->lastActivity = Clock::now();
    connections_.emplace(c->id, std::move(c));
}

void Daemon::requestStop() {
    if (stopPipe_[1] >= 0) {
        const char byte = 's';
        [[maybe_unused]] const auto n = ::write(stopPipe_[1], &byte, 1);
    }
}

void Daemon::run() {
    while (!stopping_) {
        serveOnce(-1);
    }
    // Answer the last requests (a "stop" wants its "ok") before closing.
    for (auto& [id, c] : connections_) {
        if (!c->dead) {
            flushOutput(*c);
        }
    }
    closeAll();
}

namespace {
bool wantsInput(const std::string& out, const LineBuffer& in, std::size_t highWater) {
    return out.size() < highWater && !in.hasLine();
}
} // namespace

void Daemon::serveOnce(int maxWaitMs) {
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> ids;
    auto now = Clock::now();
    const bool accepting = listenFd_ >= 0 && now >= acceptPausedUntil_;
    fds.push_back({accepting ? listenFd_ : -1, POLLIN, 0});
    fds.push_back({stopPipe_[0], POLLIN, 0});
    for (auto& [id, c] : connections_) {
        short events = 0;
        if (!c->dead && !c->closing && wantsInput(c->out, c->in, options_.limits.outputHighWater)) {
            events = POLLIN;
        }
        if (!c->out.empty()) {
            events = static_cast<short>(events | POLLOUT);
        }
        // A connection waiting for its client to read is not polled for input, and
        // not for hang-ups either, which would wake the loop at once, again and again.
        fds.push_back({events != 0 ? c->fd : -1, events, 0});
        ids.push_back(id);
    }
    for (auto& [id, c] : connections_) {
        c->producedBeforeTurn = c->produced;
    }
    auto deadline = nextDeadline();
    if (maxWaitMs >= 0) {
        deadline = std::min(deadline, now + std::chrono::milliseconds(maxWaitMs));
    }
    const auto ns = std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count());
    timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                     static_cast<long>(ns % 1'000'000'000)};
    const int ready = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (ready < 0 && errno != EINTR) {
        stopping_ = true;
        return;
    }
    if (ready > 0) {
        if (fds[1].revents != 0) {
            char drain[16];
            while (::read(stopPipe_[0], drain, sizeof drain) > 0) {
            }
            stopping_ = true;
        }
        if (fds[0].revents & POLLIN) {
            acceptClients();
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            auto it = connections_.find(ids[i - 2]);
            if (it == connections_.end()) {
                continue;
            }
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                readFrom(*it->second);
            }
        }
    }
    deliverDue();
    now = Clock::now();
    closeQuiet(now);
    std::vector<std::uint64_t> gone;
    for (auto& [id, c] : connections_) {
        if (!c->dead && !c->out.empty()) {
            flushOutput(*c);
        }
        // Requests held back while the client was not reading its answers.
        if (!c->dead && !c->closing && c->in.hasLine()) {
            handleLines(*c);
        }
        if (c->dead || (c->closing && c->out.empty())) {
            gone.push_back(id);
        }
    }
    for (auto id : gone) {
        closeConnection(id);
    }
}

// When quietness ends this connection; nullopt when it will not. The loop's deadlines
// and the closing of quiet connections both follow this one rule, so the loop never
// wakes for a connection that it then leaves alone.
std::optional<Daemon::Clock::time_point> Daemon::quietUntil(const Connection& c) const {
    const auto& l = options_.limits;
    const auto after = [&](std::uint32_t ms) {
        return c.lastActivity + std::chrono::milliseconds(ms);
    };
    if (c.dead) {
        return std::nullopt; // closed at the end of this turn
    }
    if (!c.out.empty()) {
        return after(l.stallMs); // answers it does not take, its last words included
    }
    if (c.closing) {
        return std::nullopt; // said all it had to say: closed at the end of this turn
    }
    if (c.isHandle) {
        // A reply underway has its own deadline and counts as traffic.
        return c.pending == 0 ? std::optional(after(l.idleHandleMs)) : std::nullopt;
    }
    return after(l.idleMs);
}

Daemon::Clock::time_point Daemon::nextDeadline() const {
    const auto now = Clock::now();
    auto deadline = now + std::chrono::seconds(1);
    if (!pending_.empty()) {
        deadline = std::min(deadline, pending_.begin()->first);
    }
    if (acceptPausedUntil_ > now) {
        deadline = std::min(deadline, acceptPausedUntil_);
    }
    const auto& l = options_.limits;
    for (const auto& [id, c] : connections_) {
        if (!c->dead && !c->closing && c->out.size() < l.outputHighWater && c->in.hasLine()) {
            return now; // requests held back for the next turn
        }
        if (const auto until = quietUntil(*c)) {
            deadline = std::min(deadline, *until);
        }
    }
    return deadline;
}

void Daemon::closeQuiet(Clock::time_point now) {
    for (auto& [id, c] : connections_) {
        const auto until = quietUntil(*c);
        if (!until || now < *until) {
            continue;
        }
        if (!c->out.empty() || c->isHandle) {
            c->dead = true;
        } else {
            send(*c, "err closed after " + std::to_string(options_.limits.idleMs) +
                         " ms without a request\n");
            c->closing = true;
        }
    }
}

std::size_t Daemon::connectionLimit() const {
    rlimit files{};
    std::size_t limit = options_.limits.maxConnections;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        const rlim_t usable =
            files.rlim_cur > kReservedDescriptors ? files.rlim_cur - kReservedDescriptors : 1;
        limit = std::min<std::size_t>(limit, static_cast<std::size_t>(usable));
    }
    return std::max<std::size_t>(limit, 1);
}

void Daemon::acceptClients() {
    for (int i = 0; i < kAcceptsPerTurn; ++i) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return;
            }
            if ((errno == EMFILE || errno == ENFILE) && spareFd_ >= 0) {
                dropAcceptedClient();
                continue;
            }
            // Nothing to accept with: the listener stays readable, so look again a
            // little later rather than spin on it.
            acceptPausedUntil_ = Clock::now() + kAcceptPause;
            return;
        }
        if (connections_.size() >= connectionLimit() && !makeRoom()) {
            sayLast(fd, "err too many connections (" + std::to_string(connectionLimit()) + ")\n");
            ::close(fd);
            continue;
        }
        addConnection(fd);
    }
}

// Out of descriptors: the spare one takes the waiting client so that it hears why and
// leaves the queue, then is taken back.
void Daemon::dropAcceptedClient() {
    ::close(spareFd_);
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        sayLast(fd, "err the simulator is out of descriptors\n");
        ::close(fd);
    }
    spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// When full, the connection that has been quiet longest (no handle, nothing owed to
// it) gives way, so that idle clients cannot lock everyone else out.
bool Daemon::makeRoom() {
    const auto now = Clock::now();
    Connection* quietest = nullptr;
    for (auto& [id, c] : connections_) {
        if (c->isHandle || !c->out.empty() || c->in.hasLine() ||
            now - c->lastActivity < std::chrono::milliseconds(options_.limits.evictQuietMs)) {
            continue;
        }
        if (quietest == nullptr || c->lastActivity < quietest->lastActivity) {
            quietest = c.get();
        }
    }
    if (quietest == nullptr) {
        return false;
    }
    sayLast(quietest->fd, "err closed to make room for another client\n");
    closeConnection(quietest->id);
    return true;
}

void Daemon::readFrom(Connection& c) {
    char chunk[8192];
    std::size_t budget = options_.limits.readPerTurn; // one busy client cannot hold the loop
    while (budget > 0 && !c.dead && !c.closing &&
           wantsInput(c.out, c.in, options_.limits.outputHighWater)) {
        const ssize_t n = ::recv(c.fd, chunk, std::min(sizeof chunk, budget), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        if (n <= 0) {
            c.dead = true; // gone, possibly in the middle of a line: nothing half-done stays
            return;
        }
        budget -= static_cast<std::size_t>(n);
        c.lastActivity = Clock::now();
        c.in.append(chunk, static_cast<std::size_t>(n));
        handleLines(c);
        if (c.in.overflowed()) {
            c.dead = true;
            return;
        }
    }
}

// A client gets at most one costly answer (a flash dump) per turn of the loop, so that
// many of them asking for dumps delay a cheap request by one round, not by all of it.
void Daemon::handleLines(Connection& c) {
    const std::size_t highWater = options_.limits.outputHighWater;
    while (!c.dead && !c.closing && c.out.size() < highWater &&
           c.produced - c.producedBeforeTurn < highWater) {
        auto line = c.in.next();
        if (!line) {
            break;
        }
        handleLine(c, *line);
    }
}

void Daemon::handleLine(Connection& c, const std::string& line) {
    if (c.isHandle) {
        // An open handle only writes frames; anything else is noise on the bus.
        if (line.rfind("frame ", 0) == 0) {
            handleFrame(c, line.substr(6));
        }
        return;
    }
    auto words = splitWords(line);
    if (words.empty()) {
        return;
    }
    std::optional<std::size_t> opened;
    std::string answer = commands_.request(std::move(words), opened);
    if (opened) {
        c.isHandle = true;
        c.box = *opened;
    }
    send(c, std::move(answer));
}

void Daemon::handleFrame(Connection& c, const std::string& hex) {
    if (hex.size() > 2 * kMaxFrame) {
        return;
    }
    const auto bytes = fromHex(hex);
    if (!bytes || !commands_.plugged(c.box)) {
        return;
    }
    // A box still busy with that many requests loses the next one, as a real one would.
    if (c.pending >= options_.limits.maxPendingPerHandle ||
        pending_.size() >= options_.limits.maxPending) {
        return;
    }
    if (auto reply = commands_.frame(c.box, *bytes)) {
        ++c.pending;
        pending_.emplace(Clock::now() + std::chrono::milliseconds(commands_.delayMs()),
                         PendingReply{c.id, c.box, std::move(*reply)});
    }
}

std::size_t Daemon::handleCount(std::size_t box) const {
    std::size_t handles = 0;
    for (const auto& [id, c] : connections_) {
        handles += (c->isHandle && c->box == box && !c->closing && !c->dead) ? 1 : 0;
    }
    return handles;
}

void Daemon::deliverDue() {
    const auto now = Clock::now();
    while (!pending_.empty() && pending_.begin()->first <= now) {
        PendingReply reply = std::move(pending_.begin()->second);
        pending_.erase(pending_.begin());
        auto it = connections_.find(reply.connection);
        if (it == connections_.end()) {
            continue;
        }
        --it->second->pending;
        if (!it->second->closing && !it->second->dead) {
            send(*it->second, "data " + toHex(reply.bytes) + "\n");
        }
    }
}

void Daemon::unplugHandles(std::size_t box) {
    for (auto& [id, c] : connections_) {
        if (c->isHandle && c->box == box && !c->closing) {
            send(*c, "unplugged\n");
            c->closing = true;
        }
    }
    for (auto& [id, c] : connections_) {
        if (c->box == box) {
            c->pending = 0;
        }
    }
    std::erase_if(pending_, [&](const auto& due) { return due.second.box == box; });
}

bool Daemon::tellHandles(std::size_t box, const std::string& line) {
    bool anyHandle = false;
    for (auto& [id, c] : connections_) {
        if (c->isHandle && c->box == box && !c->closing) {
            send(*c, line);
            anyHandle = true;
        }
    }
    return anyHandle;
}

Clients::Load Daemon::load() const {
    return {connections_.size(), pending_.size(), totalOutput_};
}

void Daemon::send(Connection& c, std::string text) {
    const auto& l = options_.limits;
    if (c.dead) {
        return;
    }
    const auto cutOff = [this](Connection& victim) {
        victim.dead = true;
        totalOutput_ -= victim.out.size();
        victim.out.clear();
        victim.out.shrink_to_fit();
    };
    if (c.out.size() + text.size() > l.maxOutput) {
        cutOff(c); // a client that stops reading is cut off rather than let memory grow
        return;
    }
    while (totalOutput_ + text.size() > l.maxTotalOutput) {
        // Full: the client owed the most goes, not necessarily the one asking now.
        Connection* hog = nullptr;
        for (auto& [id, other] : connections_) {
            if (!other->dead && (hog == nullptr || other->out.size() > hog->out.size())) {
                hog = other.get();
            }
        }
        if (hog == nullptr || hog->out.empty()) {
            break;
        }
        cutOff(*hog);
        if (hog == &c) {
            return;
        }
    }
    if (c.out.empty()) {
        c.lastActivity = Clock::now(); // the stall clock starts with the first byte owed
    }
    totalOutput_ += text.size();
    c.produced += text.size();
    c.out += text;
    flushOutput(c);
}

void Daemon::flushOutput(Connection& c) {
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.out.erase(0, static_cast<std::size_t>(n));
            totalOutput_ -= static_cast<std::size_t>(n);
            c.lastActivity = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        c.dead = true;
        return;
    }
}

void Daemon::closeConnection(std::uint64_t id) {
    auto it = connections_.find(id);
    if (it == connections_.end()) {
        return;
    }
    ::close(it->second->fd);
    totalOutput_ -= it->second->out.size();
    if (it->second->pending > 0) {
        std::erase_if(pending_, [&](const auto& due) { return due.second.connection == id; });
    }
    connections_.erase(it);
}

} // namespace telmar::sim
