// SPDX-License-Identifier: MIT
#include "tests/support/SimProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace telmar::test {

namespace {

using SteadyClock = std::chrono::steady_clock;

int msLeft(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// fork + exec with the child tied to our life; argv is built before the fork.
pid_t spawn(const std::vector<std::string>& args, int outFd, int errFd) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        if (outFd >= 0) {
            ::dup2(outFd, STDOUT_FILENO);
        }
        if (errFd >= 0) {
            ::dup2(errFd, STDERR_FILENO);
        }
        if (const int null = ::open("/dev/null", O_RDONLY); null >= 0) {
            ::dup2(null, STDIN_FILENO);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

std::optional<int> waitFor(pid_t pid, int timeoutMs) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return WIFEXITED(status) ? std::optional(WEXITSTATUS(status)) : std::nullopt;
        }
        if (r < 0 || msLeft(deadline) == 0) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

SimProcess::SimProcess(std::vector<std::string> serveArgs) {
    char folder[] = "/tmp/telmar-sim-test-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        error_ = "mkdtemp failed";
        return;
    }
    folder_ = folder;
    socket_ = folder_ + "/sim.sock";
    std::vector<std::string> args = {TELMAR_SIM_BINARY, "serve", "--socket", socket_};
    args.insert(args.end(), serveArgs.begin(), serveArgs.end());

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return;
    }
    pid_ = spawn(args, out[1], -1);
    ::close(out[1]);
    // Ready once it says where it serves.
    std::string said;
    const auto deadline = SteadyClock::now() + std::chrono::seconds(20);
    while (said.find('\n') == std::string::npos) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, msLeft(deadline)) <= 0) {
            break;
        }
        char chunk[256];
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        said.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (said == "telmar-sim: serving on " + socket_ + "\n") {
        ready_ = true;
    } else {
        error_ = "telmar-sim did not start; it said: " + said;
    }
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        if (!signalAndWait(SIGTERM, 10000)) {
            ::kill(pid_, SIGKILL);
            waitFor(pid_, 5000);
        }
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

sim::ControlReply SimProcess::control(const std::string& request) const {
    return sim::sendControl(socket_, request, 10000);
}

std::map<std::string, std::string> SimProcess::status() const {
    std::map<std::string, std::string> values;
    for (const auto& line : control("status").lines) {
        for (const auto& word : sim::splitWords(line)) {
            const auto eq = word.find('=');
            if (eq != std::string::npos) {
                values[word.substr(0, eq)] = word.substr(eq + 1);
            }
        }
    }
    return values;
}

void SimProcess::becomeUsbBackend() const {
    ::setenv("TELMAR_USB_BACKEND", "sim", 1);
    ::setenv("TELMAR_SIM_SOCKET", socket_.c_str(), 1);
}

std::optional<int> SimProcess::signalAndWait(int signal, int timeoutMs) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    ::kill(pid_, signal);
    return waitExit(timeoutMs);
}

std::optional<int> SimProcess::waitExit(int timeoutMs) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    auto code = waitFor(pid_, timeoutMs);
    int status = 0;
    if (code || ::waitpid(pid_, &status, WNOHANG) != 0) {
        pid_ = -1; // reaped
    }
    return code;
}

CliResult runCli(const std::vector<std::string>& cliArgs, int timeoutMs) {
    std::vector<std::string> args = {TELMAR_SIM_BINARY};
    args.insert(args.end(), cliArgs.begin(), cliArgs.end());
    return runProgram(args, timeoutMs);
}

CliResult runProgram(const std::vector<std::string>& argv, int timeoutMs) {
    return ChildRun(argv).finish(timeoutMs);
}

ChildRun::ChildRun(const std::vector<std::string>& argv) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    pid_ = spawn(argv, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
}

ChildRun::~ChildRun() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    for (const int fd : fds_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool ChildRun::readSome(int timeoutMs) {
    pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (fds_[0] < 0 && fds_[1] < 0) {
        return false;
    }
    if (::poll(fds, 2, timeoutMs) <= 0) {
        return true;
    }
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) {
            continue;
        }
        char chunk[65536];
        const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
        if (n <= 0) {
            ::close(fds_[i]);
            fds_[i] = -1;
            continue;
        }
        (i == 0 ? result_.out : result_.err).append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

bool ChildRun::waitFor(const std::string& text, const std::string& in, int timeoutMs) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    while (in.find(text) == std::string::npos) {
        if (msLeft(deadline) == 0 || !readSome(msLeft(deadline))) {
            return in.find(text) != std::string::npos;
        }
    }
    return true;
}

bool ChildRun::waitForOut(const std::string& text, int timeoutMs) {
    return waitFor(text, result_.out, timeoutMs);
}

bool ChildRun::waitForErr(const std::string& text, int timeoutMs) {
    return waitFor(text, result_.err, timeoutMs);
}

void ChildRun::signal(int number) const {
    if (pid_ > 0) {
        ::kill(pid_, number);
    }
}

CliResult ChildRun::finish(int timeoutMs) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    while (msLeft(deadline) > 0 && readSome(msLeft(deadline))) {
    }
    if (pid_ <= 0) {
        return result_;
    }
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            pid_ = -1;
            break;
        }
        if (r < 0 || msLeft(deadline) == 0) {
            break; // the destructor kills it
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return result_;
}

Watchdog::Watchdog(std::chrono::seconds limit) {
    thread_ = std::thread([this, limit] {
        std::unique_lock lock(mutex_);
        if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
            std::fprintf(stderr, "watchdog: test still running after %lld s, aborting\n",
                         static_cast<long long>(limit.count()));
            if (victim_ > 0) {
                ::kill(victim_, SIGKILL);
            }
            std::abort();
        }
    });
}

void Watchdog::guard(pid_t pid) {
    std::lock_guard lock(mutex_);
    victim_ = pid;
}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    done_.notify_all();
    thread_.join();
}

} // namespace telmar::test
