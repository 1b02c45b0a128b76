// SPDX-License-Identifier: MIT
#pragma once

#include "updater/Variant.h"
#include "usb/Driver.h"

#include <string>
#include <string_view>

namespace telmar::updater {

// Held by one update run of this user at a time, across every updater program
// (both builds and any command-line front end). Kept by the platform: a process
// that dies, even by SIGKILL, gives it up.
class UpdateLock {
  public:
    virtual ~UpdateLock() = default;
    // False when another update holds it or it cannot be had; never waits.
    virtual bool tryLock() = 0;
    virtual void unlock() = 0;
    // Why the last tryLock() failed when no other update holds the lock (its folder
    // or file cannot be trusted or used); empty otherwise.
    virtual std::string problem() const { return {}; }
};

// Keeps the machine from sleeping, shutting down or ending the session while the
// image is written. begin and end come in pairs from the worker thread; a guard
// that cannot be had says so itself and the write goes on without it.
class WriteGuard {
  public:
    virtual ~WriteGuard() = default;
    virtual void begin(std::string_view reason) = 0;
    virtual void end() = 0;
};

// What a program hands the flash procedure beyond its user interface. Both may be
// null (tests of the procedure alone).
struct Safeguards {
    UpdateLock* lock = nullptr;
    WriteGuard* writeGuard = nullptr;
};

inline constexpr std::string_view kSafetyCaption = "TELMAR Reflasher";

// Why the write guard is held, as the system shows it.
inline constexpr std::string_view kWriteGuardWho = "TELMAR Reflasher";
inline constexpr std::string_view kWriteGuardReason =
    "Writing firmware to the TELMAR box; an interruption can leave it unusable";

inline constexpr std::string_view kAnotherUpdateText =
    "Another firmware update is already running.\n"
    "Nothing was sent to the box. Wait until that update has ended, then try again.";

inline constexpr std::string_view kBoxInUseText =
    "The TELMAR box was found but could not be opened.\n"
    "Another program is probably using it, such as the control panel (LUMORA_GUI).\n"
    "Close that program, then choose Update Firmware again.";

inline constexpr std::string_view kBoxNotPreparedText =
    "The TELMAR box was opened, but clearing its USB buffers failed.\n"
    "Nothing was sent to the box. Unplug it, connect it again, then choose Update Firmware "
    "again.";

inline constexpr std::string_view kImageDamagedText =
    "The firmware image inside this program is damaged: its CRC-32 differs from the one "
    "recorded when the program was built.\n"
    "Nothing was sent to the box. Get a fresh copy of the program.";

// The last box after a failed write, shown by every shell before the process ends.
inline constexpr std::string_view kRecoveryText =
    "The firmware was NOT updated.\n"
    "The TELMAR box may still be in programming mode. Do not power it off.\n"
    "If it was disconnected, connect it again. Then choose Update Firmware again: a "
    "complete update brings the box back.";

// Shown by the Windows programs when the vendor's USB library cannot be loaded.
std::string missingLibraryText(std::wstring_view libraryName);

// Why this program must not write its image through `driver`, or empty when it may:
// a placeholder goes only to a simulated box, and an image must match the CRC-32
// recorded at build time.
std::string refusalBeforeFirstFrame(const Variant& variant, const usb::Driver& driver);

} // namespace telmar::updater
