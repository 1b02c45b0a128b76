// SPDX-License-Identifier: MIT
#include "cli/Options.h"

#include "backends/BackendChoice.h"
#include "cli/SettingNames.h"
#include "cli/Text.h"

#include <array>
#include <utility>
#include <vector>

namespace telmar::cli {

namespace {

// A command's name and its --help text; those of get and set end with the settings.
struct CommandName {
    Command command;
    std::string_view name;
    std::string_view usage;
    bool listsSettings = false;
};
constexpr std::array<CommandName, 7> kCommands = {{
    {Command::List, "list",
     "usage: telmarctl [--json] list\n"
     "Lists the attached devices that count as a TELMAR box (serial string S,\n"
     "2031 unless --serial): index, serial and USB ids where the backend knows them.\n"
     "Exit code 3 when there is none.\n"},
    {Command::Status, "status",
     "usage: telmarctl [--json] status [--watch] [--details]\n"
     "Prints the firmware version, the seven status lines as the control panel shows\n"
     "them (empty while the box has no input) and every setting. --details adds the\n"
     "signal details: video, HDR, source and audio, and the status blocks in hex\n"
     "(--json always has them). --watch reads the box every 3000 ms and prints again\n"
     "whenever anything changed, until interrupted; with --json one object per\n"
     "change, with its time and the keys that changed. When the box leaves, --watch\n"
     "says so once (\"TELMAR disconnected\"; with --json "
     "{\"event\":\"disconnected\",...}),\n"
     "looks for it every 3000 ms and prints the whole status again when it is back.\n"},
    {Command::Get, "get",
     "usage: telmarctl [--json] get [SETTING]\n"
     "Prints one setting's value, or every setting as NAME: VALUE.",
     true},
    {Command::Set, "set",
     "usage: telmarctl [--json] set SETTING VALUE\n"
     "Writes the setting and prints the control panel's confirmation. EDID and AUDIO\n"
     "can be set only while gui-control is on.",
     true},
    {Command::Hpd, "hpd", "usage: telmarctl [--json] hpd\nSends the HPD/reset pulse to the box.\n"},
    {Command::Update, "update",
     "usage: telmarctl [--json] update fpga1|fpga2 [--image FILE] [-y|--yes]\n"
     "Writes the flash image built into telmarctl, or FILE (exactly the build's block\n"
     "count x 512 bytes), to the box. Asks before it starts unless --yes; without a\n"
     "terminal --yes is required. An interrupt while the image is written is deferred\n"
     "until the write has ended.\n"},
    {Command::Doctor, "doctor",
     "usage: telmarctl [--json] doctor [--report FILE]\n"
     "Checks the way to the box: the backend, the USB library, the devices with the\n"
     "box's USB ids, whether this user may open them, kernel drivers, programs that\n"
     "hold them, the udev rule, the simulator, and each box's serial and firmware.\n"
     "Every problem comes with the step that fixes it. --report FILE also writes one\n"
     "JSON document for a bug report: the findings, the versions and a short\n"
     "read-only session with the box as a trace. Exit code 0 when a box is usable,\n"
     "1 when a problem was found, 3 when no box is there.\n"},
}};

std::string settingWords() {
    std::string text;
    for (const SettingName& s : settingNames()) {
        text += "  " + std::string(s.name) + std::string(18 - s.name.size(), ' ') +
                joined(s.values, "|") + "\n";
    }
    return text;
}

Parsed fail(std::string error) {
    return {std::nullopt, std::move(error)};
}

} // namespace

Parsed parseArguments(std::span<const std::string> args) {
    Options o;
    std::optional<Command> command;
    std::vector<std::string> operands;
    bool help = false;
    bool version = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        const bool takesValue = arg == "--backend" || arg == "--serial" || arg == "--image" ||
                                arg == "--report" || arg == "--timeout";
        if (takesValue) {
            if (!inlineValue && i + 1 < args.size()) {
                inlineValue = args[++i];
            }
            const auto& value = inlineValue;
            if (!value) {
                return fail(arg + " needs a value");
            }
            if (arg == "--backend") {
                o.backend = *value;
            } else if (arg == "--serial") {
                o.serial = *value;
            } else if (arg == "--report") {
                o.report = *value;
            } else if (arg == "--timeout") {
                o.timeoutMs = parseTimeout(*value);
                if (!o.timeoutMs) {
                    return fail("--timeout takes a number of seconds above 0 and up to " +
                                std::to_string(kMaxTimeoutSeconds) + ", not " + *value);
                }
            } else {
                o.image = *value;
            }
            continue;
        }
        if (inlineValue) {
            return fail(arg + " takes no value");
        }
        if (arg == "-h" || arg == "--help") {
            help = true;
        } else if (arg == "-V" || arg == "--version") {
            version = true;
        } else if (arg == "-v" || arg == "--verbose") {
            o.verbose = true;
        } else if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--watch") {
            o.watch = true;
        } else if (arg == "--details") {
            o.details = true;
        } else if (arg == "--yes" || arg == "-y") {
            o.yes = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + arg);
        } else if (!command) {
            const CommandName* named =
                findIn(kCommands, [&arg](const CommandName& c) { return c.name == arg; });
            if (named == nullptr) {
                return fail("unknown command " + arg);
            }
            command = named->command;
        } else {
            operands.push_back(arg);
        }
    }

    if (help) {
        o.command = Command::Help;
        o.helpFor = command;
        return {o, {}};
    }
    if (version) {
        o.command = Command::Version;
        return {o, {}};
    }
    if (!command) {
        return fail("no command given");
    }
    o.command = *command;
    if (o.quiet && o.verbose) {
        return fail("--quiet and --verbose exclude each other");
    }
    // A flash write cut short would leave the box without firmware; the write keeps
    // its own time limits.
    if (o.timeoutMs && o.command == Command::Update) {
        return fail("--timeout does not apply to update: a flash write is never cut short");
    }
    // Options that belong to one command only.
    if (o.watch && o.command != Command::Status) {
        return fail("--watch belongs to status");
    }
    if (o.details && o.command != Command::Status) {
        return fail("--details belongs to status");
    }
    if (o.report && o.command != Command::Doctor) {
        return fail("--report belongs to doctor");
    }
    if ((o.image || o.yes) && o.command != Command::Update) {
        return fail(std::string(o.image ? "--image" : "--yes") + " belongs to update");
    }

    switch (o.command) {
    case Command::List:
    case Command::Status:
    case Command::Hpd:
    case Command::Doctor:
        if (!operands.empty()) {
            return fail("unexpected argument " + operands.front());
        }
        break;
    case Command::Get:
        if (operands.size() > 1) {
            return fail("get takes at most one setting");
        }
        if (!operands.empty()) {
            if (findSetting(operands[0]) == nullptr) {
                return fail("unknown setting " + operands[0]);
            }
            o.setting = operands[0];
        }
        break;
    case Command::Set: {
        // `set hpd` is the pulse, which takes no value.
        if (operands.size() == 1 && operands[0] == "hpd") {
            o.command = Command::Hpd;
            break;
        }
        if (operands.size() != 2) {
            return fail("set takes a setting and a value");
        }
        const SettingName* s = findSetting(operands[0]);
        if (s == nullptr) {
            return fail("unknown setting " + operands[0]);
        }
        if (!settingWrite(s->setting, operands[1])) {
            return fail(operands[0] + " takes " + joined(s->values, "|") + ", not " + operands[1]);
        }
        o.setting = operands[0];
        o.value = operands[1];
        break;
    }
    case Command::Update:
        if (operands.size() != 1 || (operands[0] != "fpga1" && operands[0] != "fpga2")) {
            return fail("update takes fpga1 or fpga2");
        }
        if (o.serial != kDefaultSerial) {
            return fail("update finds the box by the serial " + std::string(kDefaultSerial) +
                        " only");
        }
        o.flash = operands[0];
        break;
    case Command::Help:
    case Command::Version:
        break;
    }
    return {o, {}};
}

std::optional<std::uint32_t> parseTimeout(std::string_view text) {
    // Digits with at most three decimals, so no locale or floating point decides.
    std::uint64_t ms = 0;
    std::size_t decimals = 0;
    bool point = false;
    bool digits = false;
    for (const char ch : text) {
        if (ch == '.' && !point) {
            point = true;
            continue;
        }
        if (ch < '0' || ch > '9' || decimals == 3) {
            return std::nullopt;
        }
        digits = true;
        decimals += point ? 1 : 0;
        ms = ms * 10 + static_cast<std::uint64_t>(ch - '0');
        if (ms > std::uint64_t{kMaxTimeoutSeconds} * 1000) {
            return std::nullopt;
        }
    }
    for (; decimals < 3; ++decimals) {
        ms *= 10;
    }
    if (!digits || ms == 0 || ms > std::uint64_t{kMaxTimeoutSeconds} * 1000) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(ms);
}

std::string backendNames() {
    return joined(backends::backendTable(), "|", &backends::BackendEntry::name);
}

std::string usageText() {
    return "usage: telmarctl [--backend " + backendNames() +
           "] [--serial S] [-v|-q] [--json] [--timeout SECONDS]\n"
           "                 COMMAND ...\n"
           "       telmarctl -V|--version | -h|--help | COMMAND --help\n"
           "\n"
           "Options:\n"
           "  --backend NAME              the USB backend (" +
           backendNames() +
           ")\n"
           "  --serial S                  the box's serial string (2031)\n"
           "  -v, --verbose               say more on standard error\n"
           "  -q, --quiet                 only results and errors: no progress, no notices\n"
           "  --json                      JSON results on standard output; a failure as\n"
           "                              {\"error\": ..., \"exit_code\": ...} too\n"
           "  --timeout SECONDS           end the command after SECONDS (exit code 1); the\n"
           "                              box is left as it was (not for update)\n"
           "  -y, --yes                   update: write without asking\n"
           "  -V, --version               the version\n"
           "  -h, --help                  this text\n"
           "\n"
           "Commands:\n"
           "  list                        the attached TELMAR boxes\n"
           "  status [--watch] [--details]\n"
           "                              firmware version, the seven status lines, the settings;\n"
           "                              --details: everything the box reports about its input\n"
           "  get [SETTING]               one setting, or all of them\n"
           "  set SETTING VALUE           change a setting\n"
           "  hpd                         the HPD/reset pulse\n"
           "  update fpga1|fpga2 [--image FILE] [--yes]\n"
           "                              write a flash image to the box\n"
           "  doctor [--report FILE]      why the box can or cannot be reached; FILE: a report\n"
           "                              for a bug report\n"
           "\n"
           "Settings:\n" +
           settingWords() +
           "\n"
           "Exit codes: 0 success, 1 the operation failed, 2 usage error, 3 no box found.\n"
           "The backend is --backend, else $TELMAR_USB_BACKEND, else usb. See telmarctl(1).\n";
}

std::string commandUsage(Command command) {
    const CommandName* named =
        findIn(kCommands, [command](const CommandName& c) { return c.command == command; });
    if (named == nullptr) {
        return usageText();
    }
    return std::string(named->usage) +
           (named->listsSettings ? "\n\nSettings:\n" + settingWords() : "");
}

} // namespace telmar::cli
