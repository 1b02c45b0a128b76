// SPDX-License-Identifier: MIT
#pragma once

#include "sim/Box.h"
#include "usb/Driver.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace telmar::sim::standin {

// What a test tells the stand-in library, through the environment of the program
// that loads it.
struct Controls {
    static constexpr const char* kDumpDirVariable = "TELMAR_STANDIN_DUMP_DIR";
    static constexpr const char* kRefusePacketVariable = "TELMAR_STANDIN_REFUSE_PACKET";
    static constexpr const char* kHoldFileVariable = "TELMAR_STANDIN_HOLD_FILE";
    static constexpr const char* kCommandFileVariable = "TELMAR_STANDIN_COMMAND_FILE";

    // Folder for state.txt, fpga1.bin and fpga2.bin, rewritten whenever the device is
    // opened, closed or held, and when the library is unloaded. Empty: none.
    std::string dumpDir;
    // The k-th flash packet (1 = the first) is refused; 0: none is.
    std::int64_t refusePacket = 0;
    // The first flash packet waits until this file exists (at most kHoldLimit), so a
    // test can act while the image is being written. Empty: no wait.
    std::string holdFile;
    // Commands for the box, one a line, taken (and the file removed) when the program
    // next counts devices or writes a frame: "scenario NAME", "unplug", "plug".
    // Empty: none.
    std::string commandFile;

    static Controls fromEnvironment();
};

// One simulated box behind the driver seam, in-process: a frame written is answered
// at once into a receive queue that reads and queue checks drain.
class StandinDriver final : public usb::Driver {
  public:
    static constexpr usb::Handle kHandle = 0x7E1A;
    static constexpr std::chrono::seconds kHoldLimit{60};

    explicit StandinDriver(Controls controls);

    TELMAR_USB_DRIVER_CALLS;
    bool simulatedBox() const override { return true; }

    // "key=value" lines: the device's and the box's state.
    std::string stateText();
    // Writes the state and both flash contents into the dump folder, if there is one.
    // Gives up rather than wait when another thread holds the lock (process exit).
    void dump();

  private:
    bool isOpen(usb::Handle handle) const { return open_ && handle == kHandle; }
    std::string stateTextLocked() const;
    void dumpLocked() const;
    void waitForHoldFile();
    void takeCommandsLocked();

    Controls controls_;
    std::mutex mutex_;
    Box box_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::deque<std::uint8_t> received_;
    bool open_ = false;
    bool unplugged_ = false;
    bool deadHandle_ = false; // open when the box left: every call on it fails
    bool holdPending_;
    bool held_ = false;
    unsigned opens_ = 0;
    unsigned openAttempts_ = 0;
    unsigned closes_ = 0;
    std::uint32_t readTimeoutMs_ = 1000;
    std::uint32_t writeTimeoutMs_ = 1000;
};

} // namespace telmar::sim::standin
