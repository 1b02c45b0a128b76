// SPDX-License-Identifier: MIT
#include "updater/FlashUpdate.h"

#include "base/Log.h"
#include "updater/Frames.h"
#include "updater/Texts.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>

namespace telmar::updater {

namespace {

constexpr auto kLog = base::LogArea::Updater;

struct FatalError {
    std::string_view text;
    std::size_t blanks;
};
// Index = code - 1. Codes 6 and 8 share their words but not their padding.
constexpr std::array<FatalError, 10> kFatalErrors = {{
    {"ERROR setting ISP mode", 13},
    {"ERROR exit ISP mode", 16},
    {"Boot error", 25},
    {"Flash Read error", 19},
    {"Select Flash error", 17},
    {"Chip Erase error", 19},
    {"Chip Write error", 19},
    {"Chip Erase error", 21},
    {"SPI Open error", 23},
    {"SPI Close error", 22},
}};

} // namespace

std::string progressLine(std::uint32_t block, std::uint32_t blockCount) {
    // Single precision on purpose: it decides how the tenths round.
    const float value = static_cast<float>(block) / static_cast<float>(blockCount) * 100.0f;
    char text[80];
    std::snprintf(text, sizeof text, "Flash write:  %03.1f %c                                 ",
                  static_cast<double>(value), '%');
    return text;
}

std::string fatalErrorLine(std::uint8_t code) {
    if (code < 1 || code > kFatalErrors.size()) {
        return {};
    }
    const FatalError& error = kFatalErrors[code - 1];
    return std::string(error.text) + std::string(error.blanks, ' ');
}

FlashUpdate::FlashUpdate(const Variant& variant, usb::Driver& driver, link::Clock& clock,
                         UserInterface& ui, Safeguards safeguards)
    : variant_(variant), driver_(driver), safeguards_(safeguards), clock_(clock), ui_(ui),
      link_(driver, clock, ui, ui) {
    // SetBlockIndex carries the block number in one byte.
    if (variant.blockCount == 0 || variant.blockCount > 256 ||
        variant.image.size() != std::size_t{variant.blockCount} * kBlockSize) {
        throw std::invalid_argument("flash image does not match the block count");
    }
}

bool FlashUpdate::accepted(std::span<const std::uint8_t> request) {
    std::array<std::uint8_t, kShortReplyLength> reply{};
    return link_.exchange(request, reply) && reply[1] == kAccepted;
}

FlashUpdate::Outcome FlashUpdate::FlashUpdateThread() {
    if (const std::string refusal = refusalBeforeFirstFrame(variant_, driver_); !refusal.empty()) {
        TELMAR_LOG(kLog, "refused: " + refusal);
        ui_.showWarning(refusal, kSafetyCaption);
        return Outcome::Refused;
    }
    UpdateLock* lock = safeguards_.lock;
    if (lock != nullptr && !lock->tryLock()) {
        TELMAR_LOG(kLog, "refused: another update holds the lock");
        const std::string problem = lock->problem();
        ui_.showWarning(problem.empty() ? std::string(kAnotherUpdateText)
                                        : problem + "\nNothing was sent to the box.",
                        kSafetyCaption);
        return Outcome::Refused;
    }
    const Outcome outcome = run();
    if (lock != nullptr) {
        lock->unlock();
    }
    return outcome;
}

FlashUpdate::Outcome FlashUpdate::run() {
    ui_.drawStatusLine(kPreparingLine, kFirstLineY);
    clock_.sleepMs(kPrepareMs);

    switch (link_.connectDevice()) {
    case link::UpdaterLink::Connect::NotFound:
        // "Not connected" alone sends the user to the cable; the backend may know better
        // (a missing library, a box this user may not open, no simulator running).
        if (const std::string problem = driver_.reachProblem(); !problem.empty()) {
            ui_.showWarning(problem, kSafetyCaption);
        }
        return Outcome::NoBox;
    case link::UpdaterLink::Connect::NotOpened:
        // The link stays silent here; a user left looking at "preparing..." would
        // never learn that the control panel still holds the box.
        ui_.showWarning(kBoxInUseText, kSafetyCaption);
        return Outcome::BoxInUse;
    case link::UpdaterLink::Connect::NotPrepared:
        // Opened, so nobody else holds it: "in use" would send the user after a
        // program that is not there.
        ui_.showWarning(kBoxNotPreparedText, kSafetyCaption);
        return Outcome::BoxFailed;
    case link::UpdaterLink::Connect::Opened:
        break;
    }
    WriteGuard* guard = safeguards_.writeGuard;
    if (guard != nullptr) {
        guard->begin(kWriteGuardReason);
    }
    writing_ = true;
    struct EndWriting {
        std::atomic<bool>& flag;
        WriteGuard* guard;
        ~EndWriting() {
            flag = false;
            if (guard != nullptr) {
                guard->end();
            }
        }
    } endWriting{writing_, guard};

    ui_.drawStatusLine(kUpdatingLine, kFirstLineY);
    ui_.drawStatusLine(kPowerWarningLine, kSecondLineY);

    TELMAR_LOG(kLog, "entering programming mode, " + std::to_string(variant_.blockCount) +
                         " blocks to write");
    // The box's answer to EnterIsp says nothing we act on; it is read and dropped.
    std::array<std::uint8_t, kShortReplyLength> ignored{};
    link_.exchange(enterIspFrame(variant_.enterIspByte2), ignored);
    clock_.sleepMs(kAfterEnterIspMs);

    if (!WriteFlashImage()) {
        AbortUpdate(kChipWriteError);
        return Outcome::Aborted;
    }
    ui_.drawStatusLine(kUpdateOkLine, kFirstLineY);
    ui_.drawStatusLine(kPowerCycleLine, kSecondLineY);

    TELMAR_LOG(kLog, "image written, leaving programming mode");
    clock_.sleepMs(kBeforeExitIspMs);
    if (!accepted(kExitIspFrame)) {
        ui_.showWarning(kExitIspFailedText, kCriticalCaption);
        AbortUpdate(kExitIspError);
        return Outcome::Aborted;
    }

    clock_.sleepMs(kBeforeResetMs);
    std::array<std::uint8_t, kResetReplyLength> resetReply{};
    const bool reset = link_.exchange(kResetBoxFrame, resetReply);
    TELMAR_LOG(kLog, reset ? "box reset, update complete" : "reset failed, update complete");
    if (!reset) {
        ui_.showWarning(kResetFailedText, kCriticalCaption);
    }
    link_.closeDevice();
    return Outcome::Completed;
}

bool FlashUpdate::WriteFlashImage() {
    std::array<std::uint8_t, kWriteFlashPacketLength> packet{};
    std::copy(kWriteFlashPacketHeader.begin(), kWriteFlashPacketHeader.end(), packet.begin());
    const auto data = packet.begin() + kWriteFlashPacketHeader.size();

    clock_.sleepMs(kBeforeWriteMs);
    const std::uint32_t blocks = variant_.blockCount;
    for (std::uint32_t block = 0; block < blocks; ++block) {
        clock_.sleepMs(kPerBlockMs);
        // A block whose index the box refused is written all the same.
        if (!accepted(setBlockIndexFrame(static_cast<std::uint8_t>(block)))) {
            TELMAR_LOG(kLog, "block " + std::to_string(block) + ": index refused");
            ui_.showWarning(kBlockIndexFailedText, kCriticalCaption);
        }
        for (std::size_t p = 0; p < kPacketsPerBlock; ++p) {
            const auto source =
                variant_.image.subspan(block * kBlockSize + p * kPacketSize, kPacketSize);
            std::copy(source.begin(), source.end(), data);
            if (!accepted(packet)) {
                TELMAR_LOG(kLog, "block " + std::to_string(block) + ": packet refused");
                ui_.showWarning(kExitIspFailedText, kCriticalCaption);
                return false;
            }
        }
        ui_.drawStatusLine(progressLine(block, blocks), kFirstLineY);
    }
    return true;
}

void FlashUpdate::AbortUpdate(std::uint8_t code) {
    const std::string line = fatalErrorLine(code);
    if (line.empty()) {
        return;
    }
    TELMAR_LOG(kLog, "aborted: " + std::string(kFatalErrors[code - 1].text));
    ui_.drawStatusLine(line, kFirstLineY);
    ui_.showWarning(kFatalBoxText, kCriticalCaption);
    clock_.sleepMs(kBeforeExitIspMs);
    if (!accepted(kExitIspFrame)) {
        ui_.showWarning(kExitIspFailedText, kCriticalCaption);
    }
    link_.closeDevice();
    ui_.showWarning(kRecoveryText, kSafetyCaption);
    ui_.endProcess(kFatalExitCode);
}

} // namespace telmar::updater
