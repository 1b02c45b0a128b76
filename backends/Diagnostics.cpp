// SPDX-License-Identifier: MIT
#include "backends/Diagnostics.h"

#include "backends/TraceRecorder.h"
#include "base/Log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#ifdef __GLIBC__
#include <errno.h> // program_invocation_short_name
#endif

namespace telmar::backends {

namespace {

std::string programName() {
#ifdef __GLIBC__
    return program_invocation_short_name;
#else
    return "unknown";
#endif
}

std::string utcNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Owns the trace file for as long as the recorder writes it.
class FileTraceWriter final : public EntrySink {
  public:
    FileTraceWriter(std::unique_ptr<std::ofstream> file, const TraceHeader& header)
        : file_(std::move(file)), writer_(*file_, header) {}
    void take(const TraceEntry& entry) override { writer_.take(entry); }

  private:
    std::unique_ptr<std::ofstream> file_;
    TraceWriter writer_;
};

} // namespace

std::unique_ptr<usb::Driver> withDiagnostics(std::unique_ptr<usb::Driver> driver,
                                             std::string_view backendName, std::ostream& err) {
    if (!base::logSinkInstalled() && base::debugRequested(std::getenv(base::kDebugVariable))) {
        base::logToStandardError(true);
    }
    TELMAR_LOG(base::LogArea::Backend, "backend: " + std::string(backendName));
    std::vector<std::unique_ptr<EntrySink>> sinks;
    if (const char* path = std::getenv(kTraceVariable); path != nullptr && *path != '\0') {
        auto file = std::make_unique<std::ofstream>(path, std::ios::out | std::ios::trunc);
        if (*file) {
            const TraceHeader header{.program = programName(),
                                     .backend = std::string(backendName),
                                     .started = utcNow(),
                                     .simulatedBox = driver->simulatedBox()};
            sinks.push_back(std::make_unique<FileTraceWriter>(std::move(file), header));
            TELMAR_LOG(base::LogArea::Backend, "recording the session to " + std::string(path));
        } else {
            err << kTraceVariable << ": cannot write " << path << "; not recording" << std::endl;
        }
    }
    if (base::logEnabled(base::LogArea::Usb)) {
        sinks.push_back(std::make_unique<LogEntrySink>());
    }
    if (sinks.empty()) {
        return driver;
    }
    return std::make_unique<TraceRecorder>(std::move(driver), std::move(sinks));
}

std::unique_ptr<ReplayDriver> createReplayDriver(const char* path, std::ostream& err,
                                                 ReplayClock clock) {
    Trace trace;
    if (path == nullptr || *path == '\0') {
        err << kReplayVariable << ": not set; the replay backend has nothing to play" << std::endl;
    } else if (std::ifstream file(path, std::ios::binary); !file) {
        err << kReplayVariable << ": cannot read " << path << std::endl;
    } else {
        std::ostringstream text;
        text << file.rdbuf();
        std::string error;
        if (!parseTrace(text.str(), trace, error)) {
            err << kReplayVariable << ": " << path << ": " << error << std::endl;
            trace = Trace{};
        } else {
            TELMAR_LOG(base::LogArea::Backend, "replaying " + std::to_string(trace.entries.size()) +
                                                   " entries from " + path + ", recorded by " +
                                                   trace.header.program + " on " +
                                                   trace.header.backend);
        }
    }
    return std::make_unique<ReplayDriver>(std::move(trace), err, std::move(clock));
}

} // namespace telmar::backends
