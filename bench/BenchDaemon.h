// SPDX-License-Identifier: MIT
#pragma once

// A telmar-sim daemon of the benchmark's own on a given socket, stopped when this goes.

#include "sim/Wire.h"

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace telmar::bench {

class BenchDaemon {
  public:
    BenchDaemon(std::string socket, std::uint32_t delayMs) : socket_(std::move(socket)) {
        std::vector<std::string> args = {TELMAR_SIM_BINARY, "serve",      "--socket",
                                         socket_,           "--delay-ms", std::to_string(delayMs)};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 500 && pid_ > 0; ++i) {
            if (sim::sendControl(socket_, "status", 1000).ok) {
                ready_ = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~BenchDaemon() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        // A daemon that does not stop within 5 s is killed; the benchmark never hangs here.
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    BenchDaemon(const BenchDaemon&) = delete;
    BenchDaemon& operator=(const BenchDaemon&) = delete;

    bool ready() const { return ready_; }
    const std::string& socket() const { return socket_; }

    // User plus system CPU time of the daemon so far, in seconds.
    double cpuSeconds() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto close = text.rfind(')');
        if (close == std::string::npos) {
            return 0;
        }
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        unsigned long utime = 0;
        unsigned long stime = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14) {
                utime = std::stoul(field);
            } else if (i == 15) {
                stime = std::stoul(field);
                break;
            }
        }
        return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

  private:
    std::string socket_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

} // namespace telmar::bench
