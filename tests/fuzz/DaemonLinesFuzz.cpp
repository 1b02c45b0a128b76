// SPDX-License-Identifier: MIT
// The daemon's request lines, as one client sends them, and the shape of every line
// it answers with.

#include "sim/Daemon.h"
#include "sim/Wire.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace telmar;

bool startsWith(const std::string& s, std::string_view prefix) {
    return s.rfind(prefix, 0) == 0;
}

bool allDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

void checkAnswer(const std::string& line) {
    if (startsWith(line, "| ") || startsWith(line, "err ") || line == "ok" || line == "unplugged" ||
        line == "faults clear") {
        return;
    }
    const auto words = sim::splitWords(line);
    FUZZ_CHECK(!words.empty());
    if (words[0] == "data") {
        FUZZ_CHECK(words.size() == 2);
        const auto bytes = sim::fromHex(words[1]);
        FUZZ_CHECK(bytes && !bytes->empty() && bytes->size() <= 64);
        return;
    }
    if (words[0] == "faults") {
        FUZZ_CHECK(words.size() == 4);
        return;
    }
    FUZZ_CHECK(words[0] == "ok" && words.size() >= 2);
    if (words[1] == "count") {
        FUZZ_CHECK(words.size() == 3 && allDigits(words[2]));
    } else if (words[1] == "string") {
        FUZZ_CHECK(words.size() == 3 && sim::fromHex(words[2]));
    } else {
        FUZZ_CHECK(words[1] == "open" && words.size() == 5);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int pair[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0);
    sim::DaemonOptions options;
    options.serials = {"2031", "1111"};
    options.delayMs = 0;
    options.clientFds = {pair[1]};
    sim::Daemon daemon(options);
    const int client = pair[0];
    FUZZ_CHECK(::send(client, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size));
    ::shutdown(client, SHUT_WR);
    ::fcntl(client, F_SETFL, O_NONBLOCK);

    sim::LineBuffer answers;
    char chunk[65536];
    for (int turn = 0; turn < 100000 && daemon.connectionCount() > 0; ++turn) {
        daemon.serveOnce(0);
        for (ssize_t n; (n = ::recv(client, chunk, sizeof chunk, 0)) > 0;) {
            answers.append(chunk, static_cast<std::size_t>(n));
            while (auto line = answers.next()) {
                checkAnswer(*line);
            }
        }
    }
    FUZZ_CHECK(daemon.connectionCount() == 0);
    FUZZ_CHECK(!answers.overflowed());
    ::close(client);
    return 0;
}
