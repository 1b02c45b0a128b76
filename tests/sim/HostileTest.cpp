// SPDX-License-Identifier: MIT
// The simulated box and its clients under hostile and overloading input: a real
// telmar-sim daemon pushed past its limits, and small in-test servers that pose as one.

#include "base/PrivateFolder.h"
#include "link/PanelLink.h"
#include "link/UpdaterLink.h"
#include "protocol/ControlProtocol.h"
#include "protocol/Frames.h"
#include "sim/Daemon.h"
#include "sim/SimDriver.h"
#include "sim/Wire.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/RecordingStatusSink.h"
#include "tests/support/ScaledClock.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"
#include "updater/Frames.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace telmar::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryIsMeasurable = false; // the sanitizer holds on to freed memory
#else
constexpr bool kMemoryIsMeasurable = true;
#endif

// Resident memory of a process in kB, from /proc.
long rssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// User plus system CPU time of a process in milliseconds.
long cpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) {
            ticks += std::stol(field);
        }
    }
    return ticks * 1000 / ::sysconf(_SC_CLK_TCK);
}

// A "status" that must come back, and how long it took.
std::chrono::milliseconds timedStatus(const SimProcess& sim) {
    const auto start = SteadyClock::now();
    const auto reply = sim.control("status");
    EXPECT_TRUE(reply.ok) << reply.error;
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
}

std::map<std::string, std::string> statusValues(const SimProcess& sim) {
    return sim.status();
}

int rawClient(const std::string& socket) {
    sim::net::ConnectError why;
    const int fd = sim::net::connectUnix(socket, 2000, &why);
    EXPECT_GE(fd, 0) << why.text;
    return fd;
}

// Everything the peer sends until it closes or `wait` passes; "" plus false on time-out.
std::pair<std::string, bool> readToEnd(int fd, std::chrono::milliseconds wait) {
    std::string got;
    const auto deadline = SteadyClock::now() + wait;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return {got, false};
        }
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN)) {
            return {got, true};
        }
        if (n > 0) {
            got.append(chunk, static_cast<std::size_t>(n));
        }
    }
}

class HostileDaemon : public ::testing::Test {
  protected:
    explicit HostileDaemon(std::vector<std::string> args = {}) : sim(std::move(args)) {}
    void SetUp() override { ASSERT_TRUE(sim.running()) << sim.error(); }
    void TearDown() override {
        for (int fd : clients) {
            ::close(fd);
        }
    }
    Watchdog watchdog{90s};
    SimProcess sim;
    std::vector<int> clients;
};

TEST_F(HostileDaemon, MoreConnectionsThanDescriptorsLeaveItCalmAndAnswering) {
    const rlimit few{64, 64};
    ASSERT_EQ(::prlimit(sim.pid(), RLIMIT_NOFILE, &few, nullptr), 0);
    int refused = 0;
    for (int i = 0; i < 200; ++i) {
        const int fd = rawClient(sim.socket());
        ASSERT_GE(fd, 0);
        clients.push_back(fd);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) {
            char line[64] = {};
            if (::recv(fd, line, sizeof line - 1, MSG_DONTWAIT) > 0 &&
                std::strstr(line, "err too many connections") == line) {
                ++refused;
            }
        }
    }
    // Let the refusals arrive, then watch the daemon while all of them hang on.
    std::this_thread::sleep_for(300ms);
    for (int fd : clients) {
        char line[64] = {};
        if (::recv(fd, line, sizeof line - 1, MSG_DONTWAIT) > 0 &&
            std::strstr(line, "err too many connections") == line) {
            ++refused;
        }
    }
    EXPECT_GE(refused, 200 - 64);
    const long cpuBefore = cpuMs(sim.pid());
    std::this_thread::sleep_for(1s);
    EXPECT_LT(cpuMs(sim.pid()) - cpuBefore, 150) << "the daemon spins";
    // The connections that hang on quietly give way to one with a request.
    EXPECT_LT(timedStatus(sim), 1s);
    EXPECT_LT(timedStatus(sim), 1s);
}

class QuickIdleDaemon : public HostileDaemon {
  protected:
    QuickIdleDaemon() : HostileDaemon({"--idle-ms", "300"}) {}
};

TEST_F(QuickIdleDaemon, IdleAndNeverReadingClientsAreClosedWhileOthersAreServed) {
    const long rssBefore = rssKb(sim.pid());
    const int idle = rawClient(sim.socket());
    const int hog = rawClient(sim.socket());
    ASSERT_GE(idle, 0);
    ASSERT_GE(hog, 0);
    clients = {idle, hog};
    // 200 flash dumps asked for, about 50 MB of answers, and none of them read.
    std::string asks;
    for (int i = 0; i < 200; ++i) {
        asks += "flash fpga1\n";
    }
    ASSERT_TRUE(sim::net::sendAll(hog, asks, 2000));
    EXPECT_LT(timedStatus(sim), 1s);

    const auto [said, closed] = readToEnd(idle, 3s);
    EXPECT_TRUE(closed);
    EXPECT_EQ(said, "err closed after 300 ms without a request\n");
    // The hog is gone too: only the status request's own connection is left.
    const auto deadline = SteadyClock::now() + 3s;
    while (statusValues(sim)["clients"] != "1" && SteadyClock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(statusValues(sim)["clients"], "1");
    if (kMemoryIsMeasurable) {
        EXPECT_LT(rssKb(sim.pid()) - rssBefore, 8 * 1024) << "kB grown";
    }
}

TEST_F(HostileDaemon, FiftyClientsThatNeverReadCostBoundedMemory) {
    const long rssBefore = rssKb(sim.pid());
    std::string asks;
    for (int i = 0; i < 20; ++i) {
        asks += "flash fpga1\n"; // about 5 MB of answers each
    }
    for (int i = 0; i < 50; ++i) {
        clients.push_back(rawClient(sim.socket()));
        ASSERT_GE(clients.back(), 0);
        ASSERT_TRUE(sim::net::sendAll(clients.back(), asks, 2000));
    }
    // A daemon that blocks on a stuck client never answers; on a loaded machine the
    // fifty clients' parsed requests alone can take a second.
    EXPECT_LT(timedStatus(sim), 3s);
    EXPECT_EQ(statusValues(sim)["clients"], "51") << "all still connected";
    if (kMemoryIsMeasurable) {
        EXPECT_LT(rssKb(sim.pid()) - rssBefore, 40 * 1024) << "kB grown";
    }
}

TEST_F(HostileDaemon, AClientStreamingNewlinesDelaysNoOther) {
    const int streamer = rawClient(sim.socket());
    ASSERT_GE(streamer, 0);
    clients.push_back(streamer);
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const std::string newlines(64 * 1024, '\n');
        while (!stop) {
            sim::net::sendAll(streamer, newlines, 100);
        }
    });
    std::this_thread::sleep_for(200ms);
    for (int i = 0; i < 5; ++i) {
        EXPECT_LT(timedStatus(sim), 1s);
    }
    stop = true;
    flood.join();
}

class SlowReplyDaemon : public HostileDaemon {
  protected:
    SlowReplyDaemon() : HostileDaemon({"--delay-ms", "60000"}) {}
};

TEST_F(SlowReplyDaemon, DelayedRepliesAreCappedPerHandle) {
    const long rssBefore = rssKb(sim.pid());
    const int handle = rawClient(sim.socket());
    ASSERT_GE(handle, 0);
    clients.push_back(handle);
    std::string frames = "open 0\n";
    for (int i = 0; i < 20000; ++i) {
        frames += "frame 1108E009\n"; // version block reads, 64-byte replies each
    }
    ASSERT_TRUE(sim::net::sendAll(handle, frames, 5000));
    const auto deadline = SteadyClock::now() + 5s;
    while (statusValues(sim)["box"].empty() && SteadyClock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    // All frames are taken in; the box answers only the first 256 of them.
    auto values = statusValues(sim);
    for (auto wait = SteadyClock::now() + 5s;
         values["frames"] != "256" && SteadyClock::now() < wait; values = statusValues(sim)) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(values["pending"], "256");
    EXPECT_LT(timedStatus(sim), 1s);
    if (kMemoryIsMeasurable) {
        EXPECT_LT(rssKb(sim.pid()) - rssBefore, 4 * 1024) << "kB grown";
    }
}

// ---- An idle daemon, in this process ---------------------------------------------

std::chrono::nanoseconds processCpu() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// Clients that stopped reading, one of them met by an unplug with its answers unsent,
// leave an idle daemon asleep: the loop turns at its deadlines, not at every chance.
TEST(StuckClients, LeaveAnIdleDaemonAsleep) {
    Watchdog watchdog{30s};
    sim::DaemonOptions options;
    options.delayMs = 0;
    options.limits.stallMs = 300;
    std::array<std::array<int, 2>, 3> pairs{};
    for (auto& p : pairs) {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, p.data()),
                  0);
        const int small = 4096; // a few answers fill what the kernel holds for the client
        ::setsockopt(p[1], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        options.clientFds.push_back(p[1]);
    }
    const int counter = pairs[0][0], handle = pairs[1][0], control = pairs[2][0];
    sim::Daemon daemon(options);
    std::string counts, frames = "open 0\n";
    for (int i = 0; i < 278; ++i) {
        counts += "count\n";
    }
    for (int i = 0; i < 11400; ++i) {
        frames += "frame 1108E009\n";
    }
    std::size_t countsSent = 0, framesSent = 0;
    const auto feed = [](int fd, const std::string& text, std::size_t& sent) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    };
    for (int turn = 0; turn < 100 && framesSent < frames.size(); ++turn) {
        feed(counter, counts, countsSent);
        feed(handle, frames, framesSent);
        daemon.serveOnce(0);
    }
    ASSERT_EQ(::send(control, "unplug\n", 7, MSG_NOSIGNAL), 7);
    daemon.serveOnce(0);

    const auto cpuBefore = processCpu();
    const auto end = SteadyClock::now() + 1500ms;
    int turns = 0;
    for (; SteadyClock::now() < end; ++turns) {
        daemon.serveOnce(100);
    }
    EXPECT_LT(turns, 40) << "15 at the 100 ms cap, a few more for the closes";
    EXPECT_LT(processCpu() - cpuBefore, 150ms);
    EXPECT_EQ(daemon.connectionCount(), 1u) << "the stuck ones are let go as well";
    for (auto& p : pairs) {
        ::close(p[0]);
    }
}

// ---- Servers that pose as the daemon ---------------------------------------------

struct Impostor {
    enum class Kind { HugeCount, EndlessStream, EndlessChatter, NeverAccepts };
    Kind kind;
    const char* name;
};

// A listener in a private folder that answers as `kind` says, on its own thread.
class ImpostorServer {
  public:
    explicit ImpostorServer(Impostor::Kind kind) : kind_(kind) {
        path_ = folder_.file("sim.sock");
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
        ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
              ::listen(fd_, 0) == 0;
        if (ok_ && kind_ != Impostor::Kind::NeverAccepts) {
            thread_ = std::thread([this] { serve(); });
        }
    }
    ~ImpostorServer() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(fd_);
    }
    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }

  private:
    void serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) {
                continue;
            }
            const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            std::string request;
            for (char c = 0; ::recv(fd, &c, 1, 0) == 1 && c != '\n';) {
                request += c;
            }
            answer(fd, request);
            ::close(fd);
        }
    }
    void answer(int fd, const std::string& request) {
        const auto say = [fd](std::string_view text) {
            return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) ==
                   static_cast<ssize_t>(text.size());
        };
        if (kind_ == Impostor::Kind::HugeCount) {
            say("ok count 4294967295\n");
            return;
        }
        if (request == "count") {
            say("ok count 1\n");
        } else if (request.rfind("string", 0) == 0) {
            say("ok string 32303331\n");
        } else if (request.rfind("open", 0) == 0 && say("ok open 0 0 0\n")) {
            // Reply bytes nobody asked for, or well-formed lines that carry none.
            std::string line = "faults 0 0 0\n";
            if (kind_ == Impostor::Kind::EndlessStream) {
                line = "data " + std::string(128, 'E') + "\n";
            }
            std::string burst;
            while (burst.size() < 256 * 1024) {
                burst += line;
            }
            while (!stop_ && say(burst)) {
            }
        }
    }

    TempFolder folder_;
    std::string path_;
    Impostor::Kind kind_;
    int fd_ = -1;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

long ownRssKb() {
    return rssKb(::getpid());
}

void PrintTo(const Impostor& impostor, std::ostream* out) {
    *out << impostor.name;
}

class ImpostorTest : public ::testing::TestWithParam<Impostor> {};

TEST_P(ImpostorTest, TheLinksFailInTimeWithBoundedMemory) {
    Watchdog watchdog{60s};
    ImpostorServer server(GetParam().kind);
    ASSERT_TRUE(server.ok());
    sim::SimDriver driver(server.path());
    ScaledClock clock{4, 4};
    RecordingMessages messages;
    const long rssBefore = ownRssKb();
    const auto start = SteadyClock::now();

    link::PanelLink panel(driver, clock, messages);
    RecordingStatusSink statusBar;
    protocol::ControlProtocol protocol(panel, statusBar);
    std::uint32_t index = 0;
    if (panel.findDevice("2031", index) && panel.openDevice(index)) {
        for (int i = 0; i < 3; ++i) {
            link::Reply reply{};
            EXPECT_FALSE(protocol.readBlock(protocol::block::Version, reply,
                                            protocol::block_count::Version));
        }
        panel.closeDevice();
    }
    link::UpdaterLink updater(driver, clock, messages, messages);
    updater.connectDevice();
    if (updater.deviceHandle() != usb::kNoHandle) {
        std::array<std::uint8_t, updater::kShortReplyLength> reply{};
        const auto enter = updater::enterIspFrame(updater::kFpga2EnterIspByte2);
        bool anyAccepted = false;
        for (int i = 0; i < 3; ++i) {
            anyAccepted |= updater.exchange(enter, reply) && reply[1] == updater::kAccepted;
        }
        EXPECT_FALSE(anyAccepted);
        updater.closeDevice();
    }
    // Each call waits at most for its own time-out: the connect and request time-outs of
    // the backend, the link's 4000 ms and 2000 ms (run four times faster here).
    EXPECT_LT(SteadyClock::now() - start, 20s);
    if (kMemoryIsMeasurable) {
        EXPECT_LT(ownRssKb() - rssBefore, 16 * 1024) << "kB grown";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, ImpostorTest,
    ::testing::Values(Impostor{Impostor::Kind::HugeCount, "HugeCount"},
                      Impostor{Impostor::Kind::EndlessStream, "EndlessStream"},
                      Impostor{Impostor::Kind::EndlessChatter, "EndlessChatter"},
                      Impostor{Impostor::Kind::NeverAccepts, "NeverAccepts"}),
    [](const ::testing::TestParamInfo<Impostor>& p) { return std::string(p.param.name); });

// A daemon of another user: here a child that gives up root before it listens.
TEST(HostileServer, ADaemonOfAnotherUserIsRefused) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to run a server as another user";
    }
    Watchdog watchdog{60s};
    TempFolder folder;
    ASSERT_EQ(::chmod(folder.file("").c_str(), 0777), 0);
    const std::string path = folder.file("sim.sock");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(1);
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd, 8) != 0) {
            ::_exit(1);
        }
        [[maybe_unused]] auto n = ::write(ready[1], "r", 1);
        for (;;) {
            const int c = ::accept(fd, nullptr, nullptr);
            [[maybe_unused]] auto m = ::send(c, "ok count 1\nok\n", 14, MSG_NOSIGNAL);
            ::close(c);
        }
    }
    watchdog.guard(child);
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);

    std::ostringstream complaints;
    sim::SimDriver driver(path, &complaints);
    std::uint32_t count = 0;
    EXPECT_NE(driver.getNumDevices(count), usb::kSuccess);
    EXPECT_NE(driver.getNumDevices(count), usb::kSuccess);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(complaints.str(), "sim backend: " + path +
                                    " is served by uid 65534, not by this user (uid 0); "
                                    "refusing to talk to it\n")
        << "said once, however often asked";

    const auto cli = runCli({"--socket", path, "status"});
    EXPECT_EQ(cli.exitCode, 1);
    EXPECT_NE(cli.err.find("is served by uid 65534"), std::string::npos) << cli.err;

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(HostileServer, ASocketPathTooLongIsAClearError) {
    const std::string path = "/tmp/" + std::string(200, 'p') + ".sock";
    std::ostringstream complaints;
    sim::SimDriver driver(path, &complaints);
    std::uint32_t count = 7;
    EXPECT_NE(driver.getNumDevices(count), usb::kSuccess) << "not taken for \"no box\"";
    EXPECT_NE(complaints.str().find("at most 107 fit"), std::string::npos) << complaints.str();
    const auto cli = runCli({"--socket", path, "status"});
    EXPECT_EQ(cli.exitCode, 1);
    EXPECT_NE(cli.err.find("at most 107 fit"), std::string::npos) << cli.err;
    const auto serve = runCli({"--socket", path, "serve"});
    EXPECT_EQ(serve.exitCode, 1);
    EXPECT_NE(serve.err.find("at most 107 fit"), std::string::npos) << serve.err;
}

TEST(HostileServer, TheDefaultFolderMustBePrivateAndOurOwn) {
    TempFolder folder;
    const std::string fresh = folder.file("fresh");
    const std::string open = folder.file("open");
    const std::string file = folder.file("file");
    const std::string link = folder.file("link");
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    std::ofstream(file) << "x";
    ASSERT_EQ(::symlink(open.c_str(), link.c_str()), 0);
    struct Case {
        std::string path;
        bool accepted;
    };
    std::vector<Case> cases = {{fresh, true}, {open, true}, {file, false}, {link, false}};
    if (::getuid() == 0) {
        const std::string foreign = folder.file("foreign");
        ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        cases.push_back({foreign, false});
    }
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(base::preparePrivateFolder(c.path, error), c.accepted) << c.path << ": " << error;
        struct stat st {};
        if (c.accepted) {
            ASSERT_EQ(::lstat(c.path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u) << c.path;
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

} // namespace
} // namespace telmar::test
