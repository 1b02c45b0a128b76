// SPDX-License-Identifier: MIT
// A whole firmware update against the simulated box, on the real clock, measured
// against its floor: the procedure's fixed pauses plus one bare round trip per
// exchange. The bare round trip is measured first, on the same daemon, with the
// updater's own link exchanging ExitIsp (harmless outside programming mode). The
// nominal floor, with the configured reply delay as the round trip, is shown too.
//
//   flash_bench [fpga1|fpga2] [--delay-ms N] [--round-trips N]
//
// Starts its own telmar-sim daemon in a private temporary folder.
#include "backends/DriverFactory.h"
#include "bench/BenchDaemon.h"
#include "link/Clock.h"
#include "link/UpdaterLink.h"
#include "updater/FlashUpdate.h"
#include "updater/Frames.h"
#include "updater/UserInterface.h"
#include "updater/Variant.h"
#include "usb/ForwardingDriver.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace telmar;

// Counts the frames the procedure writes; forwards everything else untouched.
class CountingDriver final : public usb::ForwardingDriver {
  public:
    using ForwardingDriver::ForwardingDriver;
    std::uint32_t writes = 0;

    usb::Status write(usb::Handle h, const void* b, std::uint32_t c, std::uint32_t& w) override {
        ++writes;
        return ForwardingDriver::write(h, b, c, w);
    }
};

// Lines are dropped; a warning box or a fatal end means the run is not worth timing.
class ConsoleUi final : public updater::UserInterface {
  public:
    void drawStatusLine(std::string_view, int) override {}
    void showWarning(std::string_view text, std::string_view) override {
        std::fprintf(stderr, "flash_bench: box: %.*s\n", static_cast<int>(text.size()),
                     text.data());
        warnings++;
    }
    void endProcess(int exitCode) override {
        std::fprintf(stderr, "flash_bench: the update failed (exit code %d)\n", exitCode);
        failed = true;
    }
    int warnings = 0;
    bool failed = false;
};

// A private folder for the daemon's socket, removed when this goes.
struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        char name[] = "/tmp/flash-bench-XXXXXX";
        if (::mkdtemp(name) != nullptr) {
            path = name;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// Mean time of one updater exchange on an open box, in milliseconds; < 0 on failure.
double bareRoundTripMs(usb::Driver& driver, link::Clock& clock, ConsoleUi& ui, int count) {
    link::UpdaterLink link(driver, clock, ui, ui);
    link.connectDevice();
    if (link.deviceHandle() == usb::kNoHandle) {
        return -1;
    }
    std::array<std::uint8_t, updater::kShortReplyLength> reply{};
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count && ok; ++i) {
        ok = link.exchange(updater::kExitIspFrame, reply);
    }
    const auto end = std::chrono::steady_clock::now();
    link.closeDevice();
    return ok ? std::chrono::duration<double, std::milli>(end - start).count() / count : -1;
}

} // namespace

int main(int argc, char* argv[]) {
    bool fpga2 = false;
    std::uint32_t delayMs = 1;
    int roundTrips = 2000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "fpga2") == 0) {
            fpga2 = true;
        } else if (std::strcmp(argv[i], "fpga1") == 0) {
            fpga2 = false;
        } else if (std::strcmp(argv[i], "--delay-ms") == 0 && i + 1 < argc) {
            delayMs = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--round-trips") == 0 && i + 1 < argc) {
            roundTrips = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr,
                         "usage: flash_bench [fpga1|fpga2] [--delay-ms N] [--round-trips N]\n");
            return 2;
        }
    }
    const updater::Variant& variant = fpga2 ? updater::fpga2::variant() : updater::fpga1::variant();

    TempFolder folder;
    bench::BenchDaemon daemon((folder.path / "sim.sock").string(), delayMs);
    if (folder.path.empty() || !daemon.ready()) {
        std::fprintf(stderr, "flash_bench: could not start %s\n", TELMAR_SIM_BINARY);
        return 1;
    }
    ::setenv("TELMAR_USB_BACKEND", "sim", 1);
    ::setenv("TELMAR_SIM_SOCKET", daemon.socket().c_str(), 1);
    std::unique_ptr<usb::Driver> backend = backends::createDriver();
    CountingDriver driver(*backend);
    link::SteadyClock clock;
    ConsoleUi ui;
    const double roundTripMs = bareRoundTripMs(*backend, clock, ui, roundTrips);
    if (roundTripMs < 0) {
        std::fprintf(stderr, "flash_bench: the simulated box did not answer\n");
        return 1;
    }
    updater::FlashUpdate flash(variant, driver, clock, ui);

    const auto start = std::chrono::steady_clock::now();
    const auto outcome = flash.FlashUpdateThread();
    const auto end = std::chrono::steady_clock::now();
    if (outcome != updater::FlashUpdate::Outcome::Completed || ui.failed || ui.warnings != 0) {
        std::fprintf(stderr, "flash_bench: the run did not complete cleanly\n");
        return 1;
    }

    const std::uint64_t blocks = variant.blockCount;
    const std::uint64_t pausesMs = updater::kPrepareMs + updater::kAfterEnterIspMs +
                                   updater::kBeforeWriteMs + blocks * updater::kPerBlockMs +
                                   updater::kBeforeExitIspMs + updater::kBeforeResetMs;
    const double measuredMs = std::chrono::duration<double, std::milli>(end - start).count();
    const double exchanges = driver.writes;
    const double floorMs = static_cast<double>(pausesMs) + exchanges * roundTripMs;
    const double nominalMs = static_cast<double>(pausesMs) + exchanges * delayMs;
    const auto over = [&](double floor) { return (measuredMs - floor) / floor * 100.0; };

    std::printf("flash_bench: %.*s build, simulated box with a %u ms reply delay\n",
                static_cast<int>(variant.buildName.size()), variant.buildName.data(), delayMs);
    std::printf("  exchanges           %u\n", driver.writes);
    std::printf("  fixed pauses        %llu ms\n", static_cast<unsigned long long>(pausesMs));
    std::printf("  bare round trip     %.3f ms (mean of %d)\n", roundTripMs, roundTrips);
    std::printf("  floor               %.0f ms (pauses + exchanges x bare round trip)\n", floorMs);
    std::printf("  nominal floor       %.0f ms (pauses + exchanges x reply delay)\n", nominalMs);
    std::printf("  measured            %.0f ms\n", measuredMs);
    std::printf("  over the floor      %+.2f %% (%+.0f us per exchange); target within 3 %%: %s\n",
                over(floorMs), (measuredMs - floorMs) * 1000.0 / exchanges,
                over(floorMs) <= 3.0 ? "met" : "MISSED");
    std::printf("  over nominal floor  %+.2f %%\n", over(nominalMs));
    return 0;
}
