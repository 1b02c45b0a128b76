// SPDX-License-Identifier: MIT
// How fast one control panel exchange goes through the `sim` backend, against the
// daemon's configured reply delay; and how much CPU the link burns while it waits
// 4000 ms for a reply that never comes.
//
// With --log, the debug log is on for every area (written to /dev/null) and every
// driver call goes through the recorder that logs it, so the cost of logging shows
// against a run without it.
//
// usage: telmar-sim-bench [--quick] [--log]

#include "backends/TraceRecorder.h"
#include "base/Log.h"
#include "bench/BenchDaemon.h"
#include "link/Clock.h"
#include "link/Messages.h"
#include "link/PanelLink.h"
#include "sim/SimDriver.h"
#include "sim/Wire.h"
#include "status/DetailsRows.h"
#include "status/SignalDetails.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace telmar;
using SteadyClock = std::chrono::steady_clock;

struct Quiet final : link::MessageSink {
    int shown = 0;
    void showWarning(std::string_view, std::string_view) override { ++shown; }
};

bool logging = false;

std::unique_ptr<usb::Driver> benchDriver(const std::string& socket) {
    std::unique_ptr<usb::Driver> driver = std::make_unique<sim::SimDriver>(socket);
    if (!logging) {
        return driver;
    }
    std::vector<std::unique_ptr<backends::EntrySink>> sinks;
    sinks.push_back(std::make_unique<backends::LogEntrySink>());
    return std::make_unique<backends::TraceRecorder>(std::move(driver), std::move(sinks));
}

double processCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[at];
}

} // namespace

// The signal details of one poll, from a 4K HDR input with 5.1 PCM: the decode alone
// and with what a details window does after it (the rows, the changed keys).
bool benchSignalDetails(int polls) {
    static constexpr std::uint8_t kBlocks[5][33] = {
        {0xE0, 0, 0x20, 0x01, 0x04, 0x05, 0xC0},
        {0xE0, 0, 0x00, 0x00, 0x70, 0xC8, 0x60, 0x61},
        {0xE0, 0,   0x83, 0x01, 0x19, 0x2F, 'A', 'C', 'M', 'E', 0, 0, 0, 0,    'U', 'H', 'D',
         ' ',  'B', 'D',  ' ',  'P',  'l',  'a', 'y', 'e', 'r', 0, 0, 0, 0x0A, 0,   0},
        {0xE0, 0,    0x87, 0x01, 0x1A, 0x91, 0x02, 0x00, 0x34, 0x21, 0xAA,
         0x9B, 0x96, 0x19, 0xFC, 0x08, 0x48, 0x8A, 0x08, 0x39, 0x13, 0x3D,
         0x42, 0x40, 0xE8, 0x03, 0x32, 0x00, 0xE8, 0x03, 0x90, 0x01, 0x00},
        {0xE0, 0, 0, 0, 0x02, 0x04, 0, 0, 0x02, 0xDB, 0, 0, 0x05, 0, 0, 0x0B}};
    status::StatusBlocks blocks;
    for (std::size_t i = 0; i < 5; ++i) {
        std::copy(std::begin(kBlocks[i]), std::end(kBlocks[i]), blocks.replies[i].begin());
        blocks.read[i] = true;
    }
    using Clock = std::chrono::steady_clock;
    std::size_t sink = 0;
    status::SignalDetails previous = status::decodeSignalDetails(blocks);
    auto start = Clock::now();
    for (int i = 0; i < polls; ++i) {
        blocks.replies[3][28] = static_cast<std::uint8_t>(i); // MaxCLL moves every poll
        sink += status::decodeSignalDetails(blocks).hdr->metadata->maxCll;
    }
    const double decodeUs =
        std::chrono::duration<double, std::micro>(Clock::now() - start).count() / polls;
    start = Clock::now();
    for (int i = 0; i < polls; ++i) {
        blocks.replies[3][28] = static_cast<std::uint8_t>(i);
        status::SignalDetails details = status::decodeSignalDetails(blocks);
        sink += status::detailsView(details).sections.size();
        sink += status::changedKeys(previous, details).size();
        previous = std::move(details);
    }
    const double windowUs =
        std::chrono::duration<double, std::micro>(Clock::now() - start).count() / polls;
    std::printf("Signal details per poll (%d polls, checksum %zu)\n\n", polls, sink % 10);
    std::printf("| step | us per poll | target |\n|---|---:|---|\n");
    std::printf("| decode (decodeSignalDetails) | %.2f | < 50 us %s |\n", decodeUs,
                decodeUs < 50 ? "met" : "MISSED");
    std::printf("| decode + rows + changed keys | %.2f | |\n\n", windowUs);
    return decodeUs < 50;
}

int main(int argc, char** argv) {
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        quick = quick || std::strcmp(argv[i], "--quick") == 0;
        logging = logging || std::strcmp(argv[i], "--log") == 0;
    }
    std::ofstream devNull("/dev/null");
    base::StreamLogSink nowhere(devNull);
    if (logging) {
        base::setLogSink(&nowhere);
    }
    std::printf("Debug log: %s\n\n", logging ? "on, every area, to /dev/null" : "off");
    char folderTemplate[] = "/tmp/telmar-sim-bench-XXXXXX";
    if (::mkdtemp(folderTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string folder = folderTemplate;
    bool ok = benchSignalDetails(quick ? 2000 : 20000);

    std::printf(
        "Exchange round trip through the sim backend (PanelLink::exchange, 11 08 E0 09)\n\n");
    std::printf("| delay (ms) | exchanges | median (ms) | 90th pct (ms) | median - delay (ms) |\n");
    std::printf("|---:|---:|---:|---:|---:|\n");
    for (std::uint32_t delay : {0u, 1u, 5u, 20u}) {
        bench::BenchDaemon daemon(folder + "/bench-" + std::to_string(delay) + ".sock", delay);
        if (!daemon.ready()) {
            std::fprintf(stderr, "telmar-sim did not start\n");
            ok = false;
            break;
        }
        const std::unique_ptr<usb::Driver> driver = benchDriver(daemon.socket());
        link::SteadyClock clock;
        Quiet quiet;
        link::PanelLink panel(*driver, clock, quiet);
        std::uint32_t index = 0;
        if (!panel.findDevice("2031", index) || !panel.openDevice(index)) {
            std::fprintf(stderr, "no simulated box found\n");
            ok = false;
            break;
        }
        const std::uint8_t request[] = {0x11, 0x08, 0xE0, 0x09};
        const int runs = quick ? 50 : (delay >= 20 ? 100 : 500);
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            link::Reply reply{};
            const auto start = SteadyClock::now();
            const bool answered = panel.exchange(request, reply, 8);
            const auto took = std::chrono::duration<double, std::milli>(SteadyClock::now() - start);
            if (!answered) {
                std::fprintf(stderr, "exchange %d failed\n", i);
                ok = false;
                break;
            }
            ms.push_back(took.count());
        }
        panel.closeDevice();
        if (ms.empty()) {
            break;
        }
        const double median = percentile(ms, 0.5);
        std::printf("| %u | %zu | %.3f | %.3f | %.3f |\n", delay, ms.size(), median,
                    percentile(ms, 0.9), median - delay);
    }

    std::printf("\nCPU while the link waits 4000 ms for a reply that never comes\n\n");
    {
        bench::BenchDaemon daemon(folder + "/bench-wait.sock", 1);
        const std::unique_ptr<usb::Driver> driver = benchDriver(daemon.socket());
        link::SteadyClock clock;
        Quiet quiet;
        link::PanelLink panel(*driver, clock, quiet);
        std::uint32_t index = 0;
        if (!daemon.ready() || !panel.findDevice("2031", index) || !panel.openDevice(index) ||
            !sim::sendControl(daemon.socket(), "fault silence-after 0").ok) {
            std::fprintf(stderr, "could not set up the silent box\n");
            return 1;
        }
        const std::uint8_t request[] = {0x11, 0x08, 0xE0, 0x09};
        link::Reply reply{};
        const double cpu0 = processCpuSeconds();
        const double daemonCpu0 = daemon.cpuSeconds();
        const auto start = SteadyClock::now();
        const bool answered = panel.exchange(request, reply, 8);
        const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
        const double cpu = processCpuSeconds() - cpu0;
        const double daemonCpu = daemon.cpuSeconds() - daemonCpu0;
        const double share = 100.0 * cpu / wall;
        std::printf("| wait (ms) | link process CPU (ms) | share of one core | daemon CPU (ms) | "
                    "target |\n");
        std::printf("|---:|---:|---:|---:|---|\n");
        std::printf("| %.0f | %.1f | %.2f %% | %.0f | < 5 %% %s |\n", wall * 1000, cpu * 1000,
                    share, daemonCpu * 1000, share < 5.0 ? "met" : "MISSED");
        if (answered || share >= 5.0) {
            ok = false;
        }
    }
    std::filesystem::remove_all(folder);
    base::setLogSink(nullptr);
    return ok ? 0 : 1;
}
