// SPDX-License-Identifier: MIT
// Wall time of `telmarctl --backend sim status`, process start to exit, against a
// simulated box with its default 1 ms reply delay. Target: under 100 ms.
//
//   telmarctl-bench [--runs N] [--delay-ms N]
//
// Starts its own telmar-sim daemon in a private temporary folder; the runs' output
// goes to /dev/null. Exits 1 when the median misses the target or a run fails.
#include "bench/BenchDaemon.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kTargetMs = 100.0;

// One run; its wall time in ms, or a negative value when it failed.
double timedRun(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

double percentile(const std::vector<double>& sorted, double p) {
    const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[at];
}

} // namespace

int main(int argc, char* argv[]) {
    int runs = 50;
    std::uint32_t delayMs = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--delay-ms") == 0) {
            delayMs = static_cast<std::uint32_t>(std::atoi(argv[i + 1]));
        }
    }

    char folder[] = "/tmp/telmarctl-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    int result = 0;
    {
        telmar::bench::BenchDaemon daemon(std::string(folder) + "/sim.sock", delayMs);
        if (!daemon.ready()) {
            std::fprintf(stderr, "telmar-sim did not start\n");
            result = 1;
        } else {
            ::setenv("TELMAR_SIM_SOCKET", daemon.socket().c_str(), 1);
            const std::vector<std::string> command = {TELMARCTL_BINARY, "--backend", "sim",
                                                      "status"};
            timedRun(command); // warm the page cache
            std::vector<double> ms;
            for (int i = 0; i < runs; ++i) {
                const double t = timedRun(command);
                if (t < 0) {
                    std::fprintf(stderr, "run %d failed\n", i + 1);
                    result = 1;
                    break;
                }
                ms.push_back(t);
            }
            if (!ms.empty()) {
                std::sort(ms.begin(), ms.end());
                double sum = 0;
                for (const double t : ms) {
                    sum += t;
                }
                const double median = percentile(ms, 0.5);
                std::printf("telmarctl --backend sim status, reply delay %u ms, %zu runs\n"
                            "min %.1f ms  median %.1f ms  mean %.1f ms  90th pct %.1f ms  "
                            "max %.1f ms\n",
                            delayMs, ms.size(), ms.front(), median,
                            sum / static_cast<double>(ms.size()), percentile(ms, 0.9), ms.back());
                const bool met = median < kTargetMs;
                std::printf("target: median under %.0f ms: %s\n", kTargetMs,
                            met ? "met" : "MISSED");
                result = met ? result : 1;
            }
        }
    }
    std::filesystem::remove_all(folder);
    return result;
}
