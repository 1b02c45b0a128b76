// SPDX-License-Identifier: MIT
// The whole flash procedure over a driver that the fuzzer spoils, on a small variant
// whose image the fuzzer also picks. An update that completes without any reply
// having been altered must have written exactly the image; an aborted one must end
// the process with its fatal code; one that found no box must not have touched it.

#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzDriver.h"
#include "updater/FlashUpdate.h"
#include "updater/Frames.h"

#include <optional>

namespace {

using namespace telmar;

struct RecordingUi final : updater::UserInterface {
    void showWarning(std::string_view text, std::string_view) override {
        FUZZ_CHECK(text.size() < 256);
        ++warnings;
    }
    void drawStatusLine(std::string_view text, int) override { FUZZ_CHECK(text.size() < 256); }
    void endProcess(int exitCode) override { exitCodes.push_back(exitCode); }
    int warnings = 0;
    std::vector<int> exitCodes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const bool fpga1 = in.ConsumeBool();
    const auto blocks = in.ConsumeIntegralInRange<std::uint32_t>(1, 3);
    std::vector<std::uint8_t> image(blocks * updater::kBlockSize);
    const auto seed = in.ConsumeIntegral<std::uint8_t>();
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + seed);
    }
    const updater::Variant variant{
        "FUZZ", "",    "",   fpga1 ? updater::kFpga1EnterIspByte2 : updater::kFpga2EnterIspByte2,
        blocks, image, true, {},
        {},     {}};

    sim::Box box;
    link::VirtualClock clock;
    fuzz::FuzzDriver driver(in, clock, box);
    RecordingUi ui;
    updater::FlashUpdate update(variant, driver, clock, ui);
    const auto outcome = update.FlashUpdateThread();
    FUZZ_CHECK(!update.writing());

    switch (outcome) {
    case updater::FlashUpdate::Outcome::NoBox:
    case updater::FlashUpdate::Outcome::Refused:
    case updater::FlashUpdate::Outcome::BoxInUse:
    case updater::FlashUpdate::Outcome::BoxFailed:
        FUZZ_CHECK(box.frames() == 0);
        FUZZ_CHECK(ui.exitCodes.empty());
        break;
    case updater::FlashUpdate::Outcome::Aborted:
        FUZZ_CHECK(ui.exitCodes == std::vector<int>{updater::kFatalExitCode});
        break;
    case updater::FlashUpdate::Outcome::Completed: {
        FUZZ_CHECK(ui.exitCodes.empty());
        FUZZ_CHECK(update.deviceHandle() == usb::kNoHandle);
        if (!driver.tampered()) {
            const auto chip = fpga1 ? sim::FlashChip::Fpga1 : sim::FlashChip::Fpga2;
            const auto& flash = box.flash(chip);
            FUZZ_CHECK(std::equal(image.begin(), image.end(), flash.begin()));
            FUZZ_CHECK(!box.inIsp());
        }
        break;
    }
    }
    return 0;
}
