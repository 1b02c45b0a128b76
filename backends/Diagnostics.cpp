// SPDX-License-Identifier: MIT
#include "backends/Diagnostics.h"

#include "backends/TraceRecorder.h"
#include "base/File.h"
#include "base/Log.h"
#include "base/Printable.h"
#include "base/Time.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>

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

// Owns the trace file for as long as the recorder writes it. A write that fails
// (a full disk) is named once, and the trace ends there.
class FileTraceWriter final : public EntrySink {
  public:
    FileTraceWriter(base::File file, std::string path, const TraceHeader& header, std::ostream& err)
        : file_(std::move(file)), path_(std::move(path)), err_(err) {
        put(formatHeader(header));
    }
    void take(const TraceEntry& entry) override { put(formatEntry(entry)); }

  private:
    void put(const std::string& line) {
        if (failed_) {
            return;
        }
        if (std::fputs((line + '\n').c_str(), file_.get()) < 0 || std::fflush(file_.get()) != 0) {
            failed_ = true;
            err_ << kTraceVariable << ": writing " << base::printable(path_) << " failed ("
                 << std::strerror(errno) << "); the recording stops here" << std::endl;
        }
    }

    base::File file_;
    std::string path_;
    std::ostream& err_;
    bool failed_ = false;
};

// The trace file, new unless TELMAR_TRACE_REPLACE=1 asks to replace one; never the
// file being replayed.
base::Result<base::File> createTraceFile(const std::string& path) {
    const bool replace = base::debugRequested(std::getenv(kTraceReplaceVariable));
    const char* replay = std::getenv(kReplayVariable);
    std::error_code ec;
    if (replay != nullptr && *replay != '\0' && std::filesystem::equivalent(path, replay, ec)) {
        return base::fail("is the file being replayed");
    }
    // A link counts as there even when it leads nowhere; O_EXCL still has the last word.
    if (!replace && std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        return base::fail("exists already (TELMAR_TRACE_REPLACE=1 replaces it)");
    }
    return base::createToWrite(path, replace);
}

} // namespace

std::unique_ptr<usb::Driver> withDiagnostics(std::unique_ptr<usb::Driver> driver,
                                             std::string_view backendName, std::ostream& err) {
    if (!base::logSinkInstalled() && base::debugRequested(std::getenv(base::kDebugVariable))) {
        base::logToStandardError(true);
    }
    TELMAR_LOG(base::LogArea::Backend, "backend: " + std::string(backendName));
    std::vector<std::unique_ptr<EntrySink>> sinks;
    if (const char* path = std::getenv(kTraceVariable); path != nullptr && *path != '\0') {
        if (auto file = createTraceFile(path)) {
            const TraceHeader header{.program = programName(),
                                     .backend = std::string(backendName),
                                     .started =
                                         base::isoTime(std::chrono::system_clock::now(), false),
                                     .simulatedBox = driver->simulatedBox()};
            sinks.push_back(std::make_unique<FileTraceWriter>(std::move(*file), path, header, err));
            TELMAR_LOG(base::LogArea::Backend, "recording the session to " + base::printable(path));
        } else {
            err << kTraceVariable << ": cannot write " << base::printable(path) << ": "
                << file.error() << "; not recording" << std::endl;
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
    auto trace = [&]() -> base::Result<Trace> {
        if (path == nullptr || *path == '\0') {
            return base::fail("not set; the replay backend has nothing to play");
        }
        const auto file = base::openToRead(path);
        if (!file) {
            return file.context("cannot read " + base::printable(path));
        }
        auto read = readTrace(file->get());
        return read ? std::move(read) : read.context(base::printable(path));
    }();
    if (!trace) {
        err << kReplayVariable << ": " << trace.error() << std::endl;
        return std::make_unique<ReplayDriver>(Trace{}, err, std::move(clock));
    }
    TELMAR_LOG(base::LogArea::Backend, "replaying " + std::to_string(trace->entries.size()) +
                                           " entries from " + base::printable(path) +
                                           ", recorded by " +
                                           base::printable(trace->header.program) + " on " +
                                           base::printable(trace->header.backend));
    return std::make_unique<ReplayDriver>(std::move(*trace), err, std::move(clock));
}

} // namespace telmar::backends
