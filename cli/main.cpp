// SPDX-License-Identifier: MIT
// telmarctl: the TELMAR box from a terminal and from scripts.

#include "app/ProgramInfo.h"
#include "backends/BackendChoice.h"
#include "backends/DriverFactory.h"
#include "backends/TraceRecorder.h"
#include "cli/Commands.h"
#include "cli/Deadline.h"
#include "cli/Doctor.h"
#include "cli/ErrorReport.h"
#include "cli/Options.h"
#include "cli/Text.h"
#include "cli/Update.h"
#include "link/Clock.h"
#include "usb/ForwardingDriver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace {

using namespace telmar;

bool isTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

// The backend the options ask for, else the one TELMAR_USB_BACKEND names; nullptr,
// said on `err`, for a name the composition root does not know.
std::unique_ptr<usb::Driver> makeDriver(const cli::Options& options, std::ostream& err) {
    if (!options.backend) {
        // An unknown name in the variable is the same usage error as in the option.
        if (const std::string problem = backends::backendVariableProblem(); !problem.empty()) {
            err << "telmarctl: " << problem << std::endl;
            return nullptr;
        }
        return backends::createDriver();
    }
    for (const backends::BackendEntry& entry : backends::backendTable()) {
        if (entry.name == *options.backend) {
            return backends::createDriver(entry.name, err);
        }
    }
    err << "telmarctl: unknown backend " << *options.backend << " (expected " << cli::backendNames()
        << ")" << std::endl;
    return nullptr;
}

// A pipe whose reader has gone, or a terminal hung up.
bool outputClosed() {
#ifdef _WIN32
    return false;
#else
    pollfd p{STDOUT_FILENO, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
#endif
}

// The backend the doctor looks at, and what chose it.
cli::DoctorSetup doctorSetup(const cli::Options& options) {
    cli::DoctorSetup setup;
    const char* variable = std::getenv(backends::kBackendVariable);
    if (options.backend) {
        setup.backend = *options.backend;
        setup.backendWhy = "--backend " + *options.backend;
    } else {
        std::ostringstream quiet; // an unknown value has ended the program before this
        const backends::BackendEntry* chosen = backends::chooseBackend(variable, quiet);
        setup.backend = chosen != nullptr ? std::string(chosen->name) : std::string();
        const bool set = variable != nullptr && *variable != '\0';
        setup.backendWhy =
            set && setup.backend == variable
                ? std::string(backends::kBackendVariable) + "=" + variable
            : set ? std::string(backends::kBackendVariable) + " names no backend; the default"
                  : "the default; TELMAR_USB_BACKEND is not set";
    }
    setup.version = std::string(app::kVersion);
    setup.record = [backend = setup.backend](usb::Driver& inner, std::ostream& trace) {
        std::vector<std::unique_ptr<backends::EntrySink>> sinks;
        const backends::TraceHeader header{.program = "telmarctl",
                                           .backend = backend,
                                           .started = {},
                                           .simulatedBox = inner.simulatedBox()};
        sinks.push_back(std::make_unique<backends::TraceWriter>(trace, header));
        return std::unique_ptr<usb::Driver>(std::make_unique<backends::TraceRecorder>(
            std::make_unique<usb::ForwardingDriver>(inner), std::move(sinks)));
    };
    return setup;
}

// The command the options name; its exit code. Text for the user goes to `err`.
int runCommand(const cli::Options& options, std::ostream& err) {
    std::unique_ptr<usb::Driver> driver = makeDriver(options, err);
    if (!driver) {
        return cli::kExitUsage;
    }
    link::SteadyClock steady;
    cli::DeadlineClock clock(steady, options.timeoutMs);
    cli::Context context{options, *driver, clock, std::cout, err, outputClosed};
    context.deadline = options.timeoutMs ? &clock : nullptr;
    const int code = [&] {
        switch (options.command) {
        case cli::Command::List:
            return cli::runList(context);
        case cli::Command::Status:
            return cli::runStatus(context);
        case cli::Command::Get:
            return cli::runGet(context);
        case cli::Command::Set:
            return cli::runSet(context);
        case cli::Command::Hpd:
            return cli::runHpd(context);
        case cli::Command::Update:
            return cli::runUpdate(context, std::cin, isTerminal(stdin), isTerminal(stdout));
        case cli::Command::Doctor:
            return cli::runDoctor(context, doctorSetup(options));
        case cli::Command::Help:
        case cli::Command::Version:
            break;
        }
        return int{cli::kExitOk};
    }();
    if (clock.expired()) {
        err << "telmarctl: timed out after " << *options.timeoutMs / 1000.0
            << " s; the box was left as it was" << std::endl;
        return cli::kExitFailed;
    }
    return code;
}

} // namespace

int main(int argc, char* argv[]) {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    const cli::Parsed parsed = cli::parseArguments(args);
    // Standard error is kept so that with --json a failure is also one JSON object on
    // standard output, the usage error of a command line that asked for JSON included.
    cli::TeeLines errLines(std::cerr.rdbuf());
    std::ostream err(&errLines);
    const bool json = parsed.options ? parsed.options->json
                                     : std::find(args.begin(), args.end(), "--json") != args.end();
    // The doctor's report is one JSON document that carries its own exit code.
    const bool ownResult = parsed.options && parsed.options->command == cli::Command::Doctor;
    const auto finish = [&](int code) {
        err.flush();
        if (json && code != cli::kExitOk && !ownResult) {
            std::cout << cli::errorJson(errLines.lines(), code) << std::endl;
        }
        return code;
    };
    if (!parsed.options) {
        err << "telmarctl: " << parsed.error << std::endl;
        // A hint for a person, not part of the error.
        std::cerr << "Run telmarctl --help for the commands and options." << std::endl;
        return finish(cli::kExitUsage);
    }
    const cli::Options& options = *parsed.options;
    switch (options.command) {
    case cli::Command::Help:
        std::cout << (options.helpFor ? cli::commandUsage(*options.helpFor) : cli::usageText());
        return cli::kExitOk;
    case cli::Command::Version:
        if (options.json) {
            std::cout << cli::jsonLine({{"program", "telmarctl"}, {"version", app::kVersion}})
                      << std::endl;
        } else {
            std::cout << app::versionLine("telmarctl");
        }
        return cli::kExitOk;
    default:
        break;
    }
    return finish(runCommand(options, err));
}
