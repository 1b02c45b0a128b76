// SPDX-License-Identifier: MIT
#pragma once

#include "link/DeviceSearch.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace telmar::cli {

// Exit codes, as the man page lists them.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1, // the operation failed
    kExitUsage = 2,
    kExitNoBox = 3,
};

// The box's serial string unless --serial says otherwise; the updater's link knows
// no other.
inline constexpr std::string_view kDefaultSerial = link::kBoxSerial;

enum class Command { Help, Version, List, Status, Get, Set, Hpd, Update, Doctor };

struct Options {
    Command command = Command::Help;
    std::optional<std::string> backend; // --backend; unset: TELMAR_USB_BACKEND decides
    std::string serial{kDefaultSerial};
    bool verbose = false;
    bool quiet = false; // -q: results and errors only, no progress or notices
    bool json = false;
    std::optional<std::uint32_t> timeoutMs; // --timeout SECONDS: the whole command's bound

    std::optional<Command> helpFor; // COMMAND --help
    bool watch = false;             // status --watch
    bool details = false;           // status --details
    std::string setting;            // get [SETTING], set SETTING VALUE
    std::string value;
    std::string flash;                 // update fpga1|fpga2
    std::optional<std::string> image;  // update --image FILE
    bool yes = false;                  // update --yes
    std::optional<std::string> report; // doctor --report FILE
};

struct Parsed {
    std::optional<Options> options; // nullopt: a usage error
    std::string error;              // what was wrong, for one line on stderr
};

// The arguments after the program name. Global options may stand before or after
// the command.
Parsed parseArguments(std::span<const std::string> args);

// The backends this build knows, as "usb|sim".
std::string backendNames();

// The --help text, for the whole program or one command.
std::string usageText();
std::string commandUsage(Command command);

// The longest --timeout, in seconds: a day, well inside the 32-bit millisecond clock.
inline constexpr std::uint32_t kMaxTimeoutSeconds = 86400;
// "2", "0.5": a positive number of seconds up to kMaxTimeoutSeconds, as milliseconds
// (at least 1); nullopt for anything else.
std::optional<std::uint32_t> parseTimeout(std::string_view text);

} // namespace telmar::cli
