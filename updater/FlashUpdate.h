// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "link/UpdaterLink.h"
#include "updater/Safeguards.h"
#include "updater/UserInterface.h"
#include "updater/Variant.h"
#include "usb/Driver.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace telmar::updater {

// Lines the procedure draws at x 10; the trailing blanks belong to the texts so a
// shorter line covers a longer one drawn before it at the same y.
inline constexpr std::string_view kPreparingLine = "preparing...                          ";
inline constexpr std::string_view kUpdatingLine = "Updating Firmware                     ";
inline constexpr std::string_view kPowerWarningLine = "Do NOT turn power OFF                 ";
inline constexpr std::string_view kUpdateOkLine = "FLASH update ok           ";
inline constexpr std::string_view kPowerCycleLine = "You must power cycle your unit            ";
static_assert(kPreparingLine.size() == 38 && kUpdatingLine.size() == 38 &&
              kPowerWarningLine.size() == 38 && kUpdateOkLine.size() == 26 &&
              kPowerCycleLine.size() == 42);

inline constexpr std::string_view kCriticalCaption = "Critical Error!!! ";
inline constexpr std::string_view kBlockIndexFailedText = "ERROR setting Block Index mode !";
inline constexpr std::string_view kExitIspFailedText = "ERROR exit ISP mode !";
inline constexpr std::string_view kResetFailedText = "Reset TELMAR Error !";
inline constexpr std::string_view kFatalBoxText = " ";

// Fatal error codes the procedure raises itself.
inline constexpr std::uint8_t kExitIspError = 2;
inline constexpr std::uint8_t kChipWriteError = 7;
inline constexpr int kFatalExitCode = 1;

// Pauses, in milliseconds.
inline constexpr std::uint32_t kPrepareMs = 10000;
inline constexpr std::uint32_t kAfterEnterIspMs = 1000;
inline constexpr std::uint32_t kBeforeWriteMs = 100;
inline constexpr std::uint32_t kPerBlockMs = 50;
inline constexpr std::uint32_t kBeforeExitIspMs = 100;
inline constexpr std::uint32_t kBeforeResetMs = 100;

// "Flash write:  %03.1f %" and 33 blanks, the value block / count x 100 in single
// precision: 0.0 for block 0, 99.6 for the last of 248 blocks.
std::string progressLine(std::uint32_t block, std::uint32_t blockCount);

// The text AbortUpdate draws for a code of 1 to 10, blanks included; empty otherwise.
std::string fatalErrorLine(std::uint8_t code);

// One firmware update: the worker's whole job. Runs on the worker thread; only
// writing() may be read from another thread.
class FlashUpdate {
  public:
    enum class Outcome {
        Refused,   // nothing sent: placeholder for a real box, damaged image, or another update
        NoBox,     // no box with our serial; the link said so
        BoxInUse,  // the box is there but could not be opened
        BoxFailed, // opened, but it failed the preparation before the first frame
        Completed,
        Aborted,
    };

    // Throws std::invalid_argument when the variant's image does not fill its blocks.
    FlashUpdate(const Variant& variant, usb::Driver& driver, link::Clock& clock, UserInterface& ui,
                Safeguards safeguards = {});

    // Checks that the image may go to this driver's box and takes the update lock,
    // then waits, connects, enters ISP mode, writes the image, leaves ISP mode,
    // resets the box and closes it. A failed write ends the process through
    // AbortUpdate (Aborted, when the shell's endProcess returns at all).
    Outcome FlashUpdateThread();

    // Writes every block; false at the first packet the box does not accept.
    bool WriteFlashImage();

    // For codes 1 to 10: draws the code's text, one more try at leaving ISP mode,
    // closes the device, tells the user how to recover and ends the process with
    // exit code 1. Other codes: nothing.
    void AbortUpdate(std::uint8_t code);

    // True from the moment the box is open until the run ends: ending the program
    // then could leave the box half-written.
    bool writing() const { return writing_.load(); }

    usb::Handle deviceHandle() const { return link_.deviceHandle(); }

  private:
    // The exchange succeeded and reply byte 1 says accepted.
    bool accepted(std::span<const std::uint8_t> request);

    Outcome run();

    const Variant& variant_;
    usb::Driver& driver_;
    Safeguards safeguards_;
    link::Clock& clock_;
    UserInterface& ui_;
    link::UpdaterLink link_;
    std::atomic<bool> writing_{false};
};

} // namespace telmar::updater
