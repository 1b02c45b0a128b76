// SPDX-License-Identifier: MIT
#pragma once

#include "link/Messages.h"
#include "updater/Crc32.h"
#include "updater/Variant.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace telmar::updater {

// The shell's fixed texts, shared by every shell.
inline constexpr std::string_view kWindowTitle = "TELMAR Reflasher";
inline constexpr std::string_view kAboutCaption = "About TELMAR Reflasher";
inline constexpr std::string_view kAboutName = "TELMAR Reflasher";
inline constexpr std::string_view kAboutLoaderVersion = "Loader Version 1.0_120_xp";
inline constexpr std::string_view kConnectLine = "Connect USB cable to TELMAR";
inline constexpr std::string_view kCloseOtherLine = "Close other software (e.g. GUI)";

// Where the window's lines are drawn: x, and the y of each line in use.
inline constexpr int kLineX = 10;
inline constexpr int kFirstLineY = 10;
inline constexpr int kSecondLineY = 30;
inline constexpr int kThirdLineY = 80;
inline constexpr int kFourthLineY = 100;

// Shown when the user tries to end the program while the image is being written.
inline constexpr std::string_view kExitRefusedCaption = "TELMAR Reflasher";
inline constexpr std::string_view kExitRefusedText =
    "The firmware is being written to the TELMAR box.\n"
    "Do not close this program and do not disconnect the box until the write has ended.";

// Drawn at y 80 over the greeting's "Connect USB cable to TELMAR" when a request to
// end the program (SIGTERM, SIGINT, SIGHUP) waits for the write.
inline constexpr std::string_view kClosingAfterWriteLine = "Finishing the write, then closing";

// The four lines the window greets the user with, at y 10, 30, 80 and 100.
void drawGreeting(link::LineSink& lines, const Variant& variant);

// The About box's line that names the image inside: build, size and the CRC-32
// recorded at build time.
std::string aboutImageLine(const Variant& variant);

// "Reflasher-FPGA1": the program's file name, and what --version names.
std::string programName(const Variant& variant);

// What --help says about this build: what it does and which image it carries.
std::string usageText(const Variant& variant);

} // namespace telmar::updater
