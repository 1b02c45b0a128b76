// SPDX-License-Identifier: MIT
// telmar-sim: serves simulated TELMAR boxes on a local socket, and is the control
// interface to a running one.

#include "app/ProgramInfo.h"
#include "base/Numbers.h"
#include "base/Printable.h"
#include "base/PrivateFolder.h"
#include "sim/Daemon.h"
#include "sim/Faults.h"
#include "sim/Scenarios.h"
#include "sim/Wire.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <ranges>
#include <span>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace telmar::sim;

constexpr int kExitUnreachable = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRefused = 3; // the simulator answered with an error

void printUsage(std::ostream& out) {
    const DaemonLimits limits;
    out << "usage: telmar-sim [--socket PATH] [--box I] COMMAND [ARGS]\n"
           "\n"
           "  serve [--serials 2031[,1111,...]] [--delay-ms N] [--scenario NAME|demo]\n"
           "        [--max-clients N] [--idle-ms N]\n"
           "                               serve simulated boxes until stop, SIGTERM or SIGINT\n"
           "  status                       the box's state, one key=value line each\n"
           "  scenarios                    list the input scenarios\n"
           "  scenario NAME|demo           put a scenario on the input, or cycle them all\n"
           "  scenario --file FILE         put the blocks of FILE's \"block N HEX...\" lines on\n"
           "                               the input (# starts a comment)\n"
           "  block N [HEX...]             status block N (11 to 15): print its reply bytes from\n"
           "                               offset 1 on, or set them (offset 0 stays E0, bytes\n"
           "                               not given are 0, at most 63); a scenario clears it\n"
           "  switches EDID AUDIO          slide-switch positions: up, mid or dn\n"
           "  unplug | plug                take the box off the bus, or put it back\n"
           "  flash fpga1|fpga2            write that flash's contents to stdout\n"
           "  delay MS                     reply delay from now on\n"
           "  stop                         end the serving simulator\n"
        << faultUsage()
        << "\n"
           "The socket is $TELMAR_SIM_SOCKET, else $XDG_RUNTIME_DIR/telmar-sim.sock, else\n"
           "/tmp/telmar-sim-<uid>/sim.sock in a folder of mode 0700 that must belong to you.\n"
           "Clients talk only to a simulator of their own user. --box picks a box by its\n"
           "place in --serials (default 0).\n"
           "\n"
           "Limits of a serving simulator:\n"
           "  connections    "
        << limits.maxConnections
        << " (--max-clients), fewer if the descriptor limit is lower; when full,\n"
           "                 a connection quiet for "
        << limits.evictQuietMs
        << " ms without an open handle gives way,\n"
           "                 else the newcomer gets \"err too many connections\"\n"
           "  idle           a connection without an open handle closes after "
        << limits.idleMs / 1000
        << " s without a\n"
           "                 request (--idle-ms), an open handle after "
        << limits.idleHandleMs / 60'000
        << " min without traffic\n"
           "  not reading    a client that takes none of its answers for "
        << limits.stallMs / 1000
        << " s (--idle-ms) is closed;\n"
           "                 its requests wait while "
        << limits.outputHighWater / 1024
        << " kB of answers are unread, and it is cut\n"
           "                 off at "
        << limits.maxOutput / 1024 << " kB; all clients together hold at most "
        << limits.maxTotalOutput / (1024 * 1024)
        << " MB (the one\n"
           "                 owed the most is cut off first)\n"
           "  fairness       at most "
        << limits.readPerTurn / 1024
        << " kB read from one client per turn of the loop\n"
           "  replies        at most "
        << limits.maxPendingPerHandle << " delayed replies per open handle and "
        << limits.maxPending
        << " in all;\n"
           "                 a frame beyond that is lost, as on a busy box\n"
           "  lines          "
        << kMaxLine / 1024 << " kB at most; a longer one closes the connection\n";
}

int usageError(const std::string& what) {
    std::cerr << "telmar-sim: " << telmar::base::printable(what, 300)
              << "\ntry 'telmar-sim --help'\n";
    return kExitUsage;
}

Daemon* gDaemon = nullptr;

extern "C" void onStopSignal(int) {
    if (gDaemon != nullptr) {
        gDaemon->requestStop();
    }
}

std::optional<unsigned long> parseUnsigned(const std::string& text, unsigned long max) {
    return telmar::base::parseNumber<unsigned long>(text, max);
}

// Takes "--name VALUE" or "--name=VALUE" at args[i]; advances i past it.
bool takeOption(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                std::string& value, bool& missing) {
    const std::string& a = args[i];
    if (a == name) {
        if (i + 1 >= args.size()) {
            missing = true;
            return true;
        }
        value = args[i + 1];
        i += 2;
        return true;
    }
    if (a.rfind(name + "=", 0) == 0) {
        value = a.substr(name.size() + 1);
        i += 1;
        return true;
    }
    return false;
}

int serve(DaemonOptions options, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size();) {
        std::string value;
        bool missing = false;
        const bool known = args[i] == "--socket" || args[i] == "--serials" ||
                           args[i] == "--delay-ms" || args[i] == "--scenario" ||
                           args[i] == "--max-clients" || args[i] == "--idle-ms";
        if (known && i + 1 >= args.size()) {
            return usageError(args[i] + " needs a value");
        }
        if (takeOption(args, i, "--socket", value, missing)) {
            options.socketPath = value;
        } else if (takeOption(args, i, "--serials", value, missing)) {
            options.serials.clear();
            for (const auto serial : std::views::split(value, ',')) {
                options.serials.emplace_back(serial.begin(), serial.end());
            }
            const auto bad = [](const std::string& s) {
                return s.empty() || s.size() > 255 ||
                       s.find_first_of(" \t\r\n") != std::string::npos;
            };
            // An empty list splits into no serial at all.
            if (value.empty() || std::ranges::any_of(options.serials, bad)) {
                return usageError("bad serial list: " + value);
            }
        } else if (takeOption(args, i, "--delay-ms", value, missing)) {
            const auto ms = parseUnsigned(value, 60'000);
            if (!ms) {
                return usageError("--delay-ms takes 0 to 60000");
            }
            options.delayMs = static_cast<std::uint32_t>(*ms);
        } else if (takeOption(args, i, "--max-clients", value, missing)) {
            const auto n = parseUnsigned(value, 65'536);
            if (!n || *n == 0) {
                return usageError("--max-clients takes 1 to 65536");
            }
            options.limits.maxConnections = *n;
        } else if (takeOption(args, i, "--idle-ms", value, missing)) {
            const auto ms = parseUnsigned(value, 3'600'000);
            if (!ms || *ms == 0) {
                return usageError("--idle-ms takes 1 to 3600000");
            }
            options.limits.idleMs = static_cast<std::uint32_t>(*ms);
            options.limits.stallMs = static_cast<std::uint32_t>(*ms);
        } else if (takeOption(args, i, "--scenario", value, missing)) {
            if (value != kDemoScenario && findScenario(value) == nullptr) {
                return usageError("unknown scenario " + value);
            }
            options.scenario = value;
        } else {
            return usageError("serve does not take " + args[i]);
        }
    }

    std::string error;
    if (const auto folder = defaultPrivateFolder();
        options.socketPath == defaultSocketPath() && !folder.empty() &&
        !telmar::base::preparePrivateFolder(folder, error)) {
        std::cerr << "telmar-sim: " << telmar::base::printable(error, 300) << "\n";
        return kExitUnreachable;
    }
    Daemon daemon(options);
    if (!daemon.listen(error)) {
        std::cerr << "telmar-sim: " << telmar::base::printable(error, 300) << "\n";
        return kExitUnreachable;
    }
    gDaemon = &daemon;
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::cout << "telmar-sim: serving on " << daemon.socketPath() << std::endl;
    daemon.run();
    gDaemon = nullptr;
    return 0;
}

// What is wrong with a control command as given, "" when nothing is; checked here so
// that only the simulator's own refusals reach it.
std::string controlProblem(const std::vector<std::string>& cmd) {
    const std::string& c = cmd[0];
    const auto n = cmd.size() - 1;
    const auto takes = [&](std::size_t wanted, const char* what) {
        return n == wanted ? std::string() : c + " takes " + what;
    };
    if (c == "status" || c == "scenarios" || c == "unplug" || c == "plug" || c == "stop") {
        return takes(0, "no arguments");
    }
    if (c == "scenario") {
        if (n == 1 && cmd[1] != kDemoScenario && findScenario(cmd[1]) == nullptr) {
            return "unknown scenario " + cmd[1] + " (telmar-sim scenarios lists them)";
        }
        return takes(1, "a scenario name or demo");
    }
    if (c == "delay") {
        if (n == 1 && !parseUnsigned(cmd[1], 60'000)) {
            return "delay takes 0 to 60000 ms";
        }
        return takes(1, "the delay in ms");
    }
    if (c == "flash") {
        return n == 1 && flashChipNamed(cmd[1]) ? std::string() : "flash takes fpga1 or fpga2";
    }
    if (c == "switches") {
        return n == 2 && parseSwitchPosition(cmd[1]) && parseSwitchPosition(cmd[2])
                   ? std::string()
                   : "switches takes two positions: up, mid or dn";
    }
    if (c == "block") {
        return "block takes a block number (11 to 15) and, to set it, its bytes in hex";
    }
    if (c == "fault") {
        Faults scratch;
        return n == 0 ? "fault takes a kind" : applyFault(scratch, std::span(cmd).subspan(1));
    }
    return "unknown command " + c;
}

// "N HEX" as the simulator takes it from "block N HEX...", where HEX may be split over
// any number of words of whole bytes; "" with `problem` said when it is not one.
std::string blockRequest(std::span<const std::string> words, std::string& problem) {
    const std::string& n = words[0];
    if (n.size() != 2 || n < "11" || n > "15") {
        problem = "block is 11 to 15, not " + n;
        return {};
    }
    std::string hex;
    for (const auto& word : words.subspan(1)) {
        if (!fromHex(word)) {
            problem = "not bytes in hex: " + word;
            return {};
        }
        hex += word;
    }
    if (hex.size() > 2 * (kMaxReply - 1)) {
        problem = "block " + n + " takes at most 63 bytes, not " + std::to_string(hex.size() / 2);
        return {};
    }
    return hex.empty() ? n : n + " " + hex;
}

// Every "block N HEX..." line of a scenario file as one request, so the input changes
// at once; blank lines and lines starting with # are left out.
std::string blockFileRequest(const std::string& path, std::string& problem) {
    constexpr std::uintmax_t kMaxFile = 64 * 1024;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        problem = path + ": not a readable file";
        return {};
    }
    if (std::filesystem::file_size(path, ec) > kMaxFile || ec) {
        problem = path + ": larger than 64 kB";
        return {};
    }
    std::ifstream file(path);
    std::string request = "block";
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        const auto words = splitWords(line);
        if (words.empty() || words[0][0] == '#') {
            continue;
        }
        const std::string where = path + " line " + std::to_string(number) + ": ";
        if (words[0] != "block" || words.size() < 3) {
            problem = where + "expected block N HEX...";
            return {};
        }
        const auto pair = blockRequest(std::span(words).subspan(1), problem);
        if (pair.empty()) {
            problem = where + problem;
            return {};
        }
        request += " " + pair;
    }
    if (!file.eof()) {
        problem = path + ": cannot be read";
        return {};
    }
    if (request == "block") {
        problem = path + ": no block lines";
        return {};
    }
    return request;
}

int control(const std::string& socketPath, const std::string& box,
            const std::vector<std::string>& cmd) {
    std::string request = box.empty() ? "" : "box " + box + " ";
    std::string problem;
    if (cmd[0] == "block" && cmd.size() >= 2) {
        const auto block = blockRequest(std::span(cmd).subspan(1), problem);
        request += "block " + block;
    } else if (cmd[0] == "scenario" && cmd.size() == 3 && cmd[1] == "--file") {
        request += blockFileRequest(cmd[2], problem);
    } else if (problem = controlProblem(cmd); problem.empty()) {
        for (std::size_t i = 0; i < cmd.size(); ++i) {
            request += (i ? " " : "") + cmd[i];
        }
    }
    if (!problem.empty()) {
        return usageError(problem);
    }
    const ControlReply reply = sendControl(socketPath, request);
    if (!reply.reached) {
        std::cerr << "telmar-sim: " << telmar::base::printable(reply.error, 300) << "\n";
        return kExitUnreachable;
    }
    if (!reply.ok) {
        std::cerr << "telmar-sim: the simulator refused: "
                  << telmar::base::printable(reply.error, 300) << "\n";
        return kExitRefused;
    }
    if (cmd[0] == "flash") {
        for (const auto& line : reply.lines) {
            const auto bytes = fromHex(line);
            if (!bytes) {
                std::cerr << "telmar-sim: garbled flash dump\n";
                return kExitUnreachable;
            }
            std::fwrite(bytes->data(), 1, bytes->size(), stdout);
        }
        return std::fflush(stdout) == 0 ? 0 : kExitUnreachable;
    }
    for (const auto& line : reply.lines) {
        std::cout << line << "\n";
    }
    if (cmd[0] == "stop") {
        // Return once the socket is gone, so a new simulator can start right after.
        for (int i = 0; i < 500; ++i) {
            const int fd = net::connectUnix(socketPath);
            if (fd < 0) {
                break;
            }
            net::closeFd(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string socketPath = defaultSocketPath();
    std::string box;
    std::size_t i = 0;
    while (i < args.size() && args[i].rfind("--", 0) == 0) {
        std::string value;
        bool missing = false;
        if (args[i] == "--help") {
            printUsage(std::cout);
            std::cout << "\n" << telmar::app::versionLine("telmar-sim");
            return 0;
        }
        if (args[i] == "--version") {
            std::cout << telmar::app::versionLine("telmar-sim");
            return 0;
        }
        if (takeOption(args, i, "--socket", value, missing)) {
            socketPath = value;
        } else if (takeOption(args, i, "--box", value, missing)) {
            if (!parseUnsigned(value, 255)) {
                return usageError("--box takes a box number");
            }
            box = value;
        } else {
            return usageError("unknown option " + args[i]);
        }
        if (missing) {
            return usageError(args[i] + " needs a value");
        }
    }
    if (i >= args.size()) {
        return usageError("no command");
    }
    const std::vector<std::string> cmd(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    if (cmd[0] == "serve") {
        DaemonOptions options;
        options.socketPath = socketPath;
        return serve(options, {cmd.begin() + 1, cmd.end()});
    }
    if (cmd[0] == "help") {
        printUsage(std::cout);
        return 0;
    }
    return control(socketPath, box, cmd);
}
