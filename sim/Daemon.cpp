// SPDX-License-Identifier: MIT
#include "sim/Daemon.h"

#include "base/Numbers.h"
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

Daemon::Daemon(DaemonOptions options) : options_(std::move(options)) {
    for (const auto& serial : options_.serials) {
        boxes_.emplace_back(serial);
        plugged_.push_back(true);
    }
    start_ = Clock::now();
    for (auto& box : boxes_) {
        box.setScenario(options_.scenario, 0);
    }
}

Daemon::~Daemon() {
    for (auto& [id, c] : connections_) {
        ::close(c->fd);
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
    }
    if (spareFd_ >= 0) {
        ::close(spareFd_);
    }
    if (ownsSocket_) {
        ::unlink(options_.socketPath.c_str());
    }
    for (int fd : stopPipe_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
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

void Daemon::adopt(int fd) {
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

BoxTimeMs Daemon::boxTime() const {
    return static_cast<BoxTimeMs>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
}

void Daemon::run() {
    while (!stopping_) {
        serveOnce(-1);
    }
    // Answer the last requests (a "stop" wants its "ok"), then take the socket away
    // before the clients see their connections close.
    for (auto& [id, c] : connections_) {
        if (!c->dead) {
            flushOutput(*c);
        }
    }
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
        const std::uint32_t limitMs = !c->out.empty() ? l.stallMs
                                      : c->isHandle   ? l.idleHandleMs
                                                      : l.idleMs;
        deadline = std::min(deadline, c->lastActivity + std::chrono::milliseconds(limitMs));
    }
    return deadline;
}

void Daemon::closeQuiet(Clock::time_point now) {
    const auto& l = options_.limits;
    const auto quietFor = [&](const Connection& c, std::uint32_t ms) {
        return now - c.lastActivity >= std::chrono::milliseconds(ms);
    };
    for (auto& [id, c] : connections_) {
        if (c->dead || c->closing) {
            continue;
        }
        if (!c->out.empty()) {
            c->dead = quietFor(*c, l.stallMs); // answers it does not take
        } else if (c->isHandle) {
            c->dead = c->pending == 0 && quietFor(*c, l.idleHandleMs);
        } else if (quietFor(*c, l.idleMs)) {
            send(*c, "err closed after " + std::to_string(l.idleMs) + " ms without a request\n");
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
            const std::string busy =
                "err too many connections (" + std::to_string(connectionLimit()) + ")\n";
            [[maybe_unused]] const auto n =
                ::send(fd, busy.data(), busy.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            ::close(fd);
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->id = nextConnection_++;
        c->fd = fd;
        c->lastActivity = Clock::now();
        connections_.emplace(c->id, std::move(c));
    }
}

// Out of descriptors: the spare one takes the waiting client so that it hears why and
// leaves the queue, then is taken back.
void Daemon::dropAcceptedClient() {
    ::close(spareFd_);
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        static constexpr std::string_view kFull = "err the simulator is out of descriptors\n";
        [[maybe_unused]] const auto n =
            ::send(fd, kFull.data(), kFull.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
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
    static constexpr std::string_view kMakeRoom = "err closed to make room for another client\n";
    [[maybe_unused]] const auto n =
        ::send(quietest->fd, kMakeRoom.data(), kMakeRoom.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
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
    if (words[0] == "count" || words[0] == "string" || words[0] == "open") {
        handleDeviceRequest(c, words);
    } else {
        handleControl(c, std::move(words));
    }
}

void Daemon::handleFrame(Connection& c, const std::string& hex) {
    if (hex.size() > 2 * kMaxFrame) {
        return;
    }
    const auto bytes = fromHex(hex);
    if (!bytes || !plugged_[c.box]) {
        return;
    }
    // A box still busy with that many requests loses the next one, as a real one would.
    if (c.pending >= options_.limits.maxPendingPerHandle ||
        pending_.size() >= options_.limits.maxPending) {
        return;
    }
    auto outcome = boxes_[c.box].handleFrame(*bytes, boxTime());
    if (outcome.unplug) {
        unplug(c.box);
    } else if (outcome.reply) {
        ++c.pending;
        pending_.emplace(Clock::now() + std::chrono::milliseconds(options_.delayMs),
                         PendingReply{c.id, c.box, std::move(*outcome.reply)});
    }
}

std::size_t Daemon::handleCount(std::size_t box) const {
    std::size_t handles = 0;
    for (const auto& [id, c] : connections_) {
        handles += (c->isHandle && c->box == box && !c->closing && !c->dead) ? 1 : 0;
    }
    return handles;
}

std::vector<std::size_t> Daemon::deviceList() const {
    std::vector<std::size_t> list;
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        if (plugged_[i]) {
            list.push_back(i);
        }
    }
    return list;
}

void Daemon::handleDeviceRequest(Connection& c, const std::vector<std::string>& words) {
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
                send(c, "err count failed\n");
                return;
            }
        }
        send(c, "ok count " + std::to_string(list.size()) + "\n");
        return;
    }
    if (words[0] == "string" && words.size() == 3) {
        const auto box = deviceIndex(words[1]);
        if (!box) {
            send(c, "err no such device\n");
            return;
        }
        if (fire(boxes_[*box].faults().string)) {
            send(c, "err string unreadable\n");
            return;
        }
        std::string text;
        if (words[2] == "0") {
            text = boxes_[*box].serial();
        } else if (words[2] == "1") {
            text = "TELMAR (simulated)";
        } else if (words[2] == "2") {
            text = "sim:" + options_.socketPath + "#" + std::to_string(*box);
        } else if (words[2] == "3" || words[2] == "4") {
            text = "0000";
        } else {
            send(c, "err bad option\n");
            return;
        }
        const std::vector<std::uint8_t> bytes(text.begin(), text.end());
        send(c, "ok string " + toHex(bytes) + "\n");
        return;
    }
    if (words[0] == "open" && words.size() == 2) {
        const auto box = deviceIndex(words[1]);
        if (!box) {
            send(c, "err no such device\n");
            return;
        }
        if (fire(boxes_[*box].faults().open)) {
            send(c, "err open failed\n");
            return;
        }
        // Like a real device's exclusive claim: one open handle per box.
        if (handleCount(*box) != 0) {
            send(c, "err busy\n");
            return;
        }
        c.isHandle = true;
        c.box = *box;
        // Faults waiting for a handle come with the answer, so none can be missed.
        Faults& f = boxes_[*box].faults();
        send(c, "ok open " + std::to_string(f.flush) + " " + std::to_string(f.close) + " " +
                    std::to_string(f.queue) + "\n");
        f.flush = f.close = f.queue = 0;
        return;
    }
    send(c, "err bad request\n");
}

void Daemon::handleControl(Connection& c, std::vector<std::string> words) {
    std::size_t box = 0;
    if (words[0] == "box") {
        const auto i = words.size() > 2 ? base::parseNumber<std::size_t>(words[1]) : std::nullopt;
        if (!i || *i >= boxes_.size()) {
            send(c, "err no such box\n");
            return;
        }
        box = *i;
        words.erase(words.begin(), words.begin() + 2);
    }
    std::vector<std::string> lines;
    const std::string error = control(box, words, lines);
    std::size_t size = 0;
    for (const auto& line : lines) {
        size += line.size() + 3;
    }
    std::string answer;
    answer.reserve(size + error.size() + 8);
    for (const auto& line : lines) {
        answer.append("| ").append(line).append("\n");
    }
    answer += error.empty() ? "ok\n" : "err " + error + "\n";
    send(c, std::move(answer));
}

std::string Daemon::control(std::size_t b, const std::vector<std::string>& words,
                            std::vector<std::string>& lines) {
    Box& box = boxes_[b];
    const std::string& cmd = words[0];
    const auto argc = words.size() - 1;
    if (cmd == "status" && argc == 0) {
        const std::size_t handles = handleCount(b);
        lines.push_back("box=" + std::to_string(b) + " boxes=" + std::to_string(boxes_.size()) +
                        " plugged=" + (plugged_[b] ? "1" : "0") + " handles=" +
                        std::to_string(handles) + " delay-ms=" + std::to_string(options_.delayMs));
        for (auto& line : box.statusLines(boxTime())) {
            lines.push_back(std::move(line));
        }
        lines.push_back("clients=" + std::to_string(connections_.size()) +
                        " pending=" + std::to_string(pending_.size()) +
                        " queued-bytes=" + std::to_string(totalOutput_));
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
            for (auto& [id, c] : connections_) {
                if (c->isHandle && c->box == b && !c->closing) {
                    send(*c, "faults clear\n");
                }
            }
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
        const auto ms = base::parseNumber<std::uint32_t>(words[1], 60'000u);
        if (!ms) {
            return "delay is 0 to 60000 ms";
        }
        options_.delayMs = *ms;
        return {};
    }
    if (cmd == "stop" && argc == 0) {
        stopping_ = true;
        return {};
    }
    return "unknown command or wrong arguments: " + cmd;
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

void Daemon::unplug(std::size_t box) {
    plugged_[box] = false;
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
    for (auto it = pending_.begin(); it != pending_.end();) {
        it = it->second.box == box ? pending_.erase(it) : std::next(it);
    }
}

void Daemon::forgetPending(std::uint64_t connection) {
    for (auto it = pending_.begin(); it != pending_.end();) {
        it = it->second.connection == connection ? pending_.erase(it) : std::next(it);
    }
}

void Daemon::pushFaults(std::size_t box) {
    Faults& f = boxes_[box].faults();
    if (f.flush == 0 && f.close == 0 && f.queue == 0) {
        return;
    }
    bool anyHandle = false;
    const std::string line = "faults " + std::to_string(f.flush) + " " + std::to_string(f.close) +
                             " " + std::to_string(f.queue) + "\n";
    for (auto& [id, c] : connections_) {
        if (c->isHandle && c->box == box && !c->closing) {
            send(*c, line);
            anyHandle = true;
        }
    }
    // Handed over to the open handles; with none open they wait for the next open.
    if (anyHandle) {
        f.flush = f.close = f.queue = 0;
    }
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
        forgetPending(id);
    }
    connections_.erase(it);
}

} // namespace telmar::sim
