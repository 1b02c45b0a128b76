// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace telmar::test::usbemu {

struct ChildResult {
    int exitCode = -1; // -1 when killed
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct ChildOptions {
    std::vector<std::pair<std::string, std::string>> env; // added or replaced
    std::vector<std::string> unset;
    std::chrono::milliseconds limit{30000}; // killed after this
    std::optional<uid_t> uid;               // run as this user (and its group)
    std::optional<gid_t> gid;
};

// Runs a program to its end or to the time limit, capturing its output.
ChildResult runChild(const std::vector<std::string>& argv, const ChildOptions& options);

} // namespace telmar::test::usbemu
