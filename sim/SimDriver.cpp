// SPDX-License-Identifier: MIT
#include "sim/SimDriver.h"

#include "base/Numbers.h"
#include "base/Printable.h"
#include "sim/Faults.h"
#include "sim/Wire.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <concepts>
#include <deque>
#include <iostream>
#include <limits>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace telmar::sim {

namespace {

constexpr int kRequestTimeoutMs = 2000;
using SteadyClock = std::chrono::steady_clock;

// Kinds of complaint, each told once per driver.
enum Complaint : int { kUnreachable, kBadCount };

// The daemon arms at most a billion faults at once; what adds up beyond kMaxFaults
// stays there.
constexpr FaultCount kMaxFaultsPushed = 1'000'000'000;
constexpr FaultCount kMaxFaults = FaultCount{1} << 62;

std::optional<FaultCount> parseFaultCount(std::string_view text) {
    if (text == "-1") {
        return kAlways;
    }
    return base::parseNumber<FaultCount>(text, kMaxFaultsPushed);
}

void addFault(FaultCount& counter, FaultCount pushed) {
    if (pushed == kAlways || counter == kAlways) {
        counter = kAlways;
    } else {
        counter = std::min(counter + pushed, kMaxFaults);
    }
}

// What a program on the sim backend tells its user when the daemon cannot be reached.
std::string reachText(const net::ConnectError& why, const std::string& socket) {
    switch (why.kind) {
    case net::ConnectError::Kind::NoServer:
        return "No simulator is running on " + base::printable(socket, 200) +
               ": start one with telmar-sim serve";
    case net::ConnectError::Kind::Busy:
        return "The simulator on " + base::printable(socket, 200) +
               " is too busy to accept a connection: try again, or run telmarctl doctor";
    default:
        return "The simulator cannot be reached: " + base::printable(why.text, 300);
    }
}

} // namespace

std::string SimDriver::reachProblem() const {
    std::lock_guard lock(mutex_);
    return reachProblem_;
}

// One device request on a fresh connection: the connection and the answer line; fd is
// -1 when the daemon cannot be reached, with the reason in `why`.
struct SimDriver::Answer {
    int fd = -1;
    net::ConnectError why;
    std::optional<std::string> line;
    LineBuffer rest;
};

SimDriver::Answer SimDriver::ask(const std::string& request) {
    Answer a;
    a.fd = net::connectUnix(socketPath_, net::kConnectTimeoutMs, &a.why);
    {
        std::lock_guard lock(mutex_);
        reachProblem_ = a.fd >= 0 ? std::string{} : reachText(a.why, socketPath_);
    }
    if (a.fd < 0) {
        if (a.why.kind != net::ConnectError::Kind::NoServer) {
            complain(kUnreachable, a.why.text);
        }
        return a;
    }
    if (net::sendAll(a.fd, request + "\n", kRequestTimeoutMs)) {
        a.line = net::readLine(a.fd, a.rest, kRequestTimeoutMs);
    }
    return a;
}

void SimDriver::complain(int kind, const std::string& text) {
    std::lock_guard lock(mutex_);
    const std::uint32_t bit = 1u << kind;
    if (complaints_ == nullptr || (complained_ & bit) != 0) {
        return;
    }
    complained_ |= bit;
    *complaints_ << "sim backend: " << base::printable(text, 300) << std::endl;
}

struct SimDriver::Port {
    std::mutex mutex;
    int fd = -1;
    LineBuffer in;
    std::deque<std::uint8_t> rx;
    FaultCount flushFaults = 0;
    FaultCount closeFaults = 0;
    FaultCount queueFaults = 0;
    bool dead = false; // unplugged or the daemon went away: every call fails

    ~Port() { net::closeFd(fd); }

    void takeLine(const std::string& line) {
        if (line.rfind("data ", 0) == 0) {
            if (auto bytes = fromHex(std::string_view(line).substr(5))) {
                if (rx.size() + bytes->size() > kMaxQueued) {
                    dead = true; // nobody sends that much unasked: not a box we can trust
                    return;
                }
                rx.insert(rx.end(), bytes->begin(), bytes->end());
            }
        } else if (line == "unplugged") {
            dead = true;
        } else if (line == "faults clear") {
            flushFaults = closeFaults = queueFaults = 0;
        } else if (line.rfind("faults ", 0) == 0) {
            const auto words = splitWords(line);
            if (words.size() != 4) {
                return;
            }
            const auto flush = parseFaultCount(words[1]);
            const auto close = parseFaultCount(words[2]);
            const auto queue = parseFaultCount(words[3]);
            if (flush && close && queue) {
                addFault(flushFaults, *flush);
                addFault(closeFaults, *close);
                addFault(queueFaults, *queue);
            }
        }
    }

    void takeLines() {
        while (!dead) {
            auto line = in.next();
            if (!line) {
                break;
            }
            takeLine(*line);
        }
        if (in.overflowed()) {
            dead = true;
        }
    }

    // Takes in whatever the daemon sent, waiting up to `waitUs` for the first of it.
    void pump(std::int64_t waitUs) {
        if (dead) {
            return;
        }
        pollfd p{fd, POLLIN, 0};
        timespec ts{static_cast<time_t>(waitUs / 1'000'000),
                    static_cast<long>((waitUs % 1'000'000) * 1000)};
        int ready = ::ppoll(&p, 1, &ts, nullptr);
        if (ready <= 0) {
            return;
        }
        char chunk[4096];
        // A daemon that never stops sending must not keep the caller here.
        for (std::size_t taken = 0; taken < kMaxTakenPerCall && !dead;) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n > 0) {
                in.append(chunk, static_cast<std::size_t>(n));
                taken += static_cast<std::size_t>(n);
                takeLines();
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                takeLines(); // what came before the end still counts for the record
                dead = true;
                return;
            }
            break;
        }
        takeLines();
    }
};

SimDriver::SimDriver(std::string socketPath, std::ostream* complaints)
    : socketPath_(std::move(socketPath)), complaints_(complaints) {}

SimDriver::~SimDriver() = default;

// Runs `use` on the handle's port, locked and with what the daemon sent taken in; when
// `forget`, the handle is gone from then on.
template <typename Use> usb::Status SimDriver::withPort(usb::Handle handle, Use use, bool forget) {
    std::shared_ptr<Port> p;
    {
        std::lock_guard lock(mutex_);
        const auto it = ports_.find(handle);
        if (it == ports_.end()) {
            return usb::kInvalidHandle;
        }
        p = it->second;
        if (forget) {
            ports_.erase(it);
        }
    }
    std::lock_guard lock(p->mutex);
    p->pump(0);
    return use(*p);
}

usb::Status SimDriver::getNumDevices(std::uint32_t& count) {
    count = 0;
    Answer a = ask("count");
    if (a.fd < 0) {
        // No daemon: nothing is plugged in. One we must not talk to is a failure.
        return a.why.kind == net::ConnectError::Kind::NoServer ? usb::kSuccess
                                                               : usb::kDeviceIoFailed;
    }
    net::closeFd(a.fd);
    const auto words = a.line ? splitWords(*a.line) : std::vector<std::string>{};
    if (words.size() != 3 || words[0] != "ok" || words[1] != "count") {
        return usb::kDeviceIoFailed;
    }
    const auto n = base::parseNumber<std::uint32_t>(words[2], kMaxDevices);
    if (!n) {
        complain(kBadCount, "the simulator on " + socketPath_ + " counts " + words[2] +
                                " devices; a USB bus holds at most 127");
        return usb::kDeviceIoFailed;
    }
    count = *n;
    return usb::kSuccess;
}

usb::Status SimDriver::getDeviceString(std::uint32_t index, char* buffer, std::uint32_t option) {
    if (buffer == nullptr) {
        return usb::kInvalidParameter;
    }
    Answer a = ask("string " + std::to_string(index) + " " + std::to_string(option));
    if (a.fd < 0) {
        return usb::kDeviceNotFound;
    }
    net::closeFd(a.fd);
    const auto words = a.line ? splitWords(*a.line) : std::vector<std::string>{};
    if (words.size() != 3 || words[0] != "ok" || words[1] != "string") {
        return usb::kDeviceNotFound;
    }
    const auto bytes = fromHex(words[2]);
    if (!bytes) {
        return usb::kDeviceIoFailed;
    }
    usb::copyDeviceString(buffer, std::string(bytes->begin(), bytes->end()));
    return usb::kSuccess;
}

usb::Status SimDriver::open(std::uint32_t index, usb::Handle& handle) {
    Answer a = ask("open " + std::to_string(index));
    if (a.fd < 0) {
        return usb::kDeviceNotFound;
    }
    const auto words = a.line ? splitWords(*a.line) : std::vector<std::string>{};
    if (words.size() != 5 || words[0] != "ok" || words[1] != "open") {
        net::closeFd(a.fd);
        return usb::kDeviceNotFound;
    }
    auto p = std::make_shared<Port>();
    p->fd = a.fd;
    p->takeLine("faults " + words[2] + " " + words[3] + " " + words[4]);
    const std::string rest = a.rest.takeRest();
    p->in.append(rest.data(), rest.size());
    p->takeLines();
    std::lock_guard lock(mutex_);
    handle = nextHandle_++;
    ports_.emplace(handle, std::move(p));
    return usb::kSuccess;
}

usb::Status SimDriver::close(usb::Handle handle) {
    return withPort(
        handle,
        [](Port& p) {
            // The connection goes either way; a failed close only tells the caller so.
            return (p.dead || fire(p.closeFaults)) ? usb::kDeviceIoFailed : usb::kSuccess;
        },
        true);
}

usb::Status SimDriver::read(usb::Handle handle, void* buffer, std::uint32_t count,
                            std::uint32_t& bytesRead) {
    bytesRead = 0;
    // The time-out counts from the call, before what has arrived is taken in.
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(readTimeoutMs_.load());
    return withPort(handle, [&](Port& p) {
        while (p.rx.empty() && !p.dead) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                deadline - SteadyClock::now());
            if (left.count() <= 0) {
                break;
            }
            p.pump(std::min<std::int64_t>(left.count(), 50'000));
        }
        if (p.dead) {
            return usb::kReadError;
        }
        if (p.rx.empty()) {
            return usb::kTimedOut;
        }
        // One read hands over what has arrived; it does not wait for the full count.
        const auto n = std::min<std::size_t>(count, p.rx.size());
        std::copy_n(p.rx.begin(), n, static_cast<std::uint8_t*>(buffer));
        p.rx.erase(p.rx.begin(), p.rx.begin() + static_cast<std::ptrdiff_t>(n));
        bytesRead = static_cast<std::uint32_t>(n);
        return usb::kSuccess;
    });
}

usb::Status SimDriver::write(usb::Handle handle, const void* buffer, std::uint32_t count,
                             std::uint32_t& bytesWritten) {
    bytesWritten = 0;
    return withPort(handle, [&](Port& p) {
        if (p.dead) {
            return usb::kWriteError;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        const std::string line = "frame " + toHex({bytes, count}) + "\n";
        const int timeout =
            static_cast<int>(std::min<std::uint32_t>(writeTimeoutMs_.load(), 60'000));
        if (!net::sendAll(p.fd, line, std::max(timeout, 1))) {
            p.dead = true;
            return usb::kWriteError;
        }
        bytesWritten = count;
        return usb::kSuccess;
    });
}

usb::Status SimDriver::flushBuffers(usb::Handle handle, std::uint8_t /*flushTransmit*/,
                                    std::uint8_t flushReceive) {
    return withPort(handle, [&](Port& p) {
        if (p.dead || fire(p.flushFaults)) {
            return usb::kDeviceIoFailed;
        }
        // Frames are sent as they are written, so there is nothing to drop on the way out.
        if (flushReceive != 0) {
            p.rx.clear();
        }
        return usb::kSuccess;
    });
}

usb::Status SimDriver::setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    readTimeoutMs_ = readMs;
    writeTimeoutMs_ = writeMs;
    return usb::kSuccess;
}

usb::Status SimDriver::getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) {
    readMs = readTimeoutMs_;
    writeMs = writeTimeoutMs_;
    return usb::kSuccess;
}

usb::Status SimDriver::checkRxQueue(usb::Handle handle, std::uint32_t& bytesQueued,
                                    std::uint32_t& queueStatus) {
    bytesQueued = 0;
    queueStatus = usb::kRxQueueEmpty;
    return withPort(handle, [&](Port& p) {
        if (p.dead || fire(p.queueFaults)) {
            // Callers poll back to back; the pause keeps a lasting failure from spinning.
            std::this_thread::sleep_for(std::chrono::microseconds(kQueueWaitUs));
            return usb::kDeviceIoFailed;
        }
        if (p.rx.empty()) {
            p.pump(kQueueWaitUs);
            if (p.dead) {
                return usb::kDeviceIoFailed;
            }
        }
        bytesQueued = static_cast<std::uint32_t>(p.rx.size());
        queueStatus = p.rx.empty() ? usb::kRxQueueEmpty : usb::kRxQueueReady;
        return usb::kSuccess;
    });
}

std::unique_ptr<usb::Driver> createSimDriver() {
    return std::make_unique<SimDriver>(defaultSocketPath(), &std::cerr);
}

} // namespace telmar::sim
