// SPDX-License-Identifier: MIT
#pragma once

#include "sim/Wire.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace telmar::test {

// A telmar-sim daemon of its own on a socket in a fresh temporary folder. It dies with
// the test process; the destructor stops it and removes the folder.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> serveArgs = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool running() const { return pid_ > 0 && ready_; }
    const std::string& error() const { return error_; }
    const std::string& socket() const { return socket_; }
    const std::string& folder() const { return folder_; }
    pid_t pid() const { return pid_; }

    sim::ControlReply control(const std::string& request) const;
    // "status" as key -> value.
    std::map<std::string, std::string> status() const;

    // Drivers the factory creates afterwards in this process use the `sim` backend on
    // this daemon (TELMAR_USB_BACKEND, TELMAR_SIM_SOCKET).
    void becomeUsbBackend() const;

    // Sends `signal` and waits for the exit; the exit code, or nullopt if it did not end
    // in time or was killed by a signal.
    std::optional<int> signalAndWait(int signal, int timeoutMs = 10000);
    std::optional<int> waitExit(int timeoutMs);

  private:
    std::string folder_;
    std::string socket_;
    std::string error_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

// Runs the telmar-sim program with `args`; its exit code (-1 on time-out) and output.
struct CliResult {
    int exitCode = -1;
    int signal = 0; // the signal that ended it, if one did
    std::string out;
    std::string err;
};
CliResult runCli(const std::vector<std::string>& args, int timeoutMs = 10000);

// A program run as a child with its standard input on /dev/null and its output
// captured; killed when this goes, and with the test process.
class ChildRun {
  public:
    explicit ChildRun(const std::vector<std::string>& argv);
    ~ChildRun();
    ChildRun(const ChildRun&) = delete;
    ChildRun& operator=(const ChildRun&) = delete;

    pid_t pid() const { return pid_; }
    // Reads output until `text` is in standard output (or error), or the time is over.
    bool waitForOut(const std::string& text, int timeoutMs);
    bool waitForErr(const std::string& text, int timeoutMs);
    void signal(int number) const;
    // Reads the rest of the output and reaps the child; exitCode -1 when it did not
    // end in time (it is killed then).
    CliResult finish(int timeoutMs);
    const std::string& out() const { return result_.out; }
    const std::string& err() const { return result_.err; }

  private:
    // Reads what is there, waiting at most `timeoutMs`; false once both pipes are closed.
    bool readSome(int timeoutMs);
    bool waitFor(const std::string& text, const std::string& in, int timeoutMs);

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    CliResult result_;
};

// Runs `argv` to its end, or kills it after `timeoutMs`.
CliResult runProgram(const std::vector<std::string>& argv, int timeoutMs = 10000);

// Aborts the whole test binary if a test hangs, so one stuck test cannot block the
// suite; the daemons it started die with it, and so does a guarded child.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // A child to kill before aborting.
    void guard(pid_t pid);

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    pid_t victim_ = -1;
    std::thread thread_;
};

} // namespace telmar::test
