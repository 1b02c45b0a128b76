// SPDX-License-Identifier: MIT
#include "panel/PanelCore.h"

#include "tests/support/FakeBox.h"
#include "tests/support/Gate.h"
#include "tests/support/ScriptedDriver.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace telmar::test {
namespace {

using panel::Connection;
using panel::TwoWay;
using Frame = std::vector<std::uint8_t>;

const Frame kSettingsRead{0x11, 0x16, 0xE1};
const Frame kVersionRead{0x11, 0x08, 0xE0, 0x09};

// What the shell would show, recorded on the test's thread.
class RecordingView final : public panel::PanelView {
  public:
    void showWarning(std::string_view text) override { warning = text; }
    void showVersion(std::string_view text) override { version = text; }
    void showStatus(const status::StatusLines& lines) override { status = lines; }
    void showStatusMessage(std::string_view text, int) override { messages.emplace_back(text); }
    void setTwoWay(TwoWay setting, bool firstChecked) override { twoWay[setting] = firstChecked; }
    void setGuiControl(bool) override {}
    void setMode(panel::ModeGroup, panel::ModeChoice) override {}
    void setModeButtonsEnabled(bool enabled) override { modeButtonsEnabled = enabled; }
    void setControlsEnabled(bool enabled) override { controlsEnabled = enabled; }
    void setPolling(bool on) override { polling = on; }
    void setSearching(bool on) override { searching = on; }
    void showLinkBox(std::string_view text, std::string_view) override {
        linkBoxes.emplace_back(text);
        if (dismissLinkBoxes) {
            dismissLinkBoxes();
        }
    }
    void closeLinkBox() override { ++linkBoxesClosed; }
    void showOpenFailed() override { ++openFailed; }
    void clearSettingsControls() override { twoWay.clear(); }

    std::string warning, version;
    status::StatusLines status;
    std::vector<std::string> messages, linkBoxes;
    std::map<TwoWay, bool> twoWay;
    bool modeButtonsEnabled = true, controlsEnabled = true, polling = false, searching = false;
    int openFailed = 0, linkBoxesClosed = 0;
    std::function<void()> dismissLinkBoxes; // empty: boxes stay open
};

// A core on the scripted driver; the test's thread plays the shell.
struct CoreRig {
    link::VirtualClock clock;
    ScriptedDriver driver{clock};
    FakeBox box;
    RecordingView view;
    std::mutex mutex;
    std::condition_variable woken;
    panel::PanelCore core{driver, clock, view, [this] {
                              std::lock_guard lock(mutex);
                              woken.notify_all();
                          }};

    explicit CoreRig(bool attached = true) {
        if (attached) {
            driver.addDevice("2031");
        }
        driver.setResponder([this](std::span<const std::uint8_t> f) { return box.respond(f); });
        view.dismissLinkBoxes = [this] { core.linkBoxDismissed(); };
    }
    ~CoreRig() { core.shutdown(); }

    // Delivers until the core has nothing left to do, or until `done` (a core that waits
    // behind an open link box is never idle).
    void settle(std::function<bool()> done = {}) {
        done = done ? done : [this] { return core.idle(); };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            {
                std::unique_lock lock(mutex);
                woken.wait_for(lock, std::chrono::milliseconds(2));
            }
            core.deliver();
        }
        ASSERT_TRUE(done());
    }
    void started() {
        core.start();
        settle();
    }
    int framesLike(const Frame& frame) const {
        int n = 0;
        for (const auto& f : driver.writtenFrames()) {
            n += f == frame ? 1 : 0;
        }
        return n;
    }
};

// A box that leaves the bus is told apart from one that only fails to answer.
TEST(PanelCore, GoneIsNotSilent) {
    struct Case {
        const char* name;
        std::function<void(CoreRig&)> fault;
        bool gone;
    };
    const Case cases[] = {
        {"unplugged", [](CoreRig& r) { r.driver.unplugAll(); }, true},
        {"no replies", [](CoreRig& r) { r.box.silent = true; }, false},
        {"writes fail", [](CoreRig& r) { r.driver.failCall(Call::Write, -1); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CoreRig rig;
        rig.box.useUhdHdrInput();
        rig.started();
        ASSERT_EQ(rig.core.connection(), Connection::Connected);
        ASSERT_TRUE(rig.view.polling);
        c.fault(rig);
        rig.core.pollTick();
        rig.settle();

        EXPECT_EQ(rig.core.connection(), c.gone ? Connection::Disconnected : Connection::Connected);
        EXPECT_EQ(rig.view.warning, c.gone ? "TELMAR disconnected" : "");
        EXPECT_EQ(rig.view.polling, !c.gone);
        EXPECT_EQ(rig.view.searching, c.gone);
        EXPECT_EQ(rig.view.controlsEnabled, !c.gone);
        if (c.gone) {
            EXPECT_EQ(rig.view.status, status::StatusLines{});
            EXPECT_FALSE(rig.view.modeButtonsEnabled);
            EXPECT_EQ(rig.driver.openHandles(), 0);
        }
    }
}

// A tick that finds the box still busy with a request is dropped, not queued.
// A box the backend knows of but cannot reach is said on the status bar, once, until found.
TEST(PanelCore, WhyNoBoxCanBeReachedStaysOnTheStatusBarUntilTheBoxIsFound) {
    const std::string why = "this user may not open it: run telmarctl doctor";
    CoreRig rig(false);
    rig.driver.setReachProblem(why);
    rig.started();
    EXPECT_EQ(rig.view.warning, "CONNECT TELMAR AND RESTART GUI");
    rig.core.searchTick();
    rig.settle();
    EXPECT_EQ(rig.view.messages, std::vector<std::string>{why});
    rig.driver.setReachProblem("");
    rig.driver.addDevice("2031");
    rig.core.searchTick();
    rig.settle();
    EXPECT_EQ(rig.core.connection(), Connection::Connected);
    EXPECT_EQ(rig.view.messages, (std::vector<std::string>{why, ""}));
}

TEST(PanelCore, TicksWhileBusyAreDropped) {
    CoreRig rig;
    rig.started();
    rig.driver.clearCalls();
    Gate gate;
    gate.arm();
    rig.box.onFrame = [&](std::span<const std::uint8_t>) { gate.pass(); };
    rig.core.pollTick();
    ASSERT_TRUE(gate.reached());
    for (int i = 0; i < 3; ++i) {
        rig.core.pollTick();
        rig.core.searchTick();
    }
    gate.open();
    rig.settle();
    EXPECT_EQ(rig.framesLike(kSettingsRead), 1);
    EXPECT_EQ(rig.framesLike(kVersionRead), 0);
}

// The settings read of a poll that was under way when the user clicked is older than the
// click: it must not put the control back.
TEST(PanelCore, AClickDuringAPollIsNotUndoneByThatPoll) {
    CoreRig rig;
    rig.box.settings[0] = 1;
    rig.started();
    ASSERT_TRUE(rig.view.twoWay.at(TwoWay::LogoLed));
    Gate gate;
    gate.arm();
    rig.box.onFrame = [&](std::span<const std::uint8_t> f) {
        if (Frame(f.begin(), f.end()) == kSettingsRead) {
            gate.pass();
        }
    };
    rig.core.pollTick();
    ASSERT_TRUE(gate.reached());
    rig.view.twoWay[TwoWay::LogoLed] = false; // the click checks rbLedDisable
    rig.core.write(panel::twoWayWrite(TwoWay::LogoLed, false));
    gate.open();
    rig.settle();
    EXPECT_FALSE(rig.view.twoWay.at(TwoWay::LogoLed));
    EXPECT_EQ(rig.core.settingsMirror()[0], 0);
    EXPECT_EQ(rig.box.settings[0], 0);
    EXPECT_EQ(rig.driver.writtenFrames().back(), (Frame{0x10, 0x04, 0xE0, 0x00, 0x00}));
}

// A click the box refuses puts every pair's buttons back to what a panel started on
// that box shows, whichever of the two the box took last, and leaves the mirror alone.
TEST(PanelCore, ARefusedClickPutsEachPairBack) {
    for (const TwoWay setting : panel::kTwoWays) {
        for (const bool consulted : {true, false}) {
            CoreRig rig;
            rig.started();
            rig.core.write(panel::twoWayWrite(setting, consulted));
            rig.settle();
            const auto mirror = rig.core.settingsMirror();
            rig.box.refuseWrites = true;
            rig.view.twoWay[setting] = !rig.view.twoWay[setting]; // the click
            rig.core.write(panel::twoWayWrite(setting, !consulted));
            rig.settle();
            CoreRig fresh;
            fresh.box.settings = rig.box.settings;
            fresh.started();
            EXPECT_EQ(rig.view.twoWay.at(setting), fresh.view.twoWay.at(setting))
                << static_cast<int>(setting) << consulted;
            EXPECT_EQ(rig.core.settingsMirror(), mirror) << static_cast<int>(setting);
        }
    }
}

// The link's box about no box or a busy box (said to be in use) holds up no search: once a
// tick finds the box, it closes itself and the panel starts. Until then no control works.
TEST(PanelUsability, AStaleBoxClosesItselfOnceTheBoxCanBeHad) {
    for (const bool busy : {false, true}) {
        CoreRig rig(busy);
        rig.view.dismissLinkBoxes = nullptr;
        rig.driver.failCall(Call::Open, busy ? 2 : 0);
        rig.core.start();
        rig.settle([&] { return rig.view.linkBoxes.size() == 1; });
        EXPECT_TRUE(!rig.view.controlsEnabled && rig.view.twoWay.empty());
        rig.core.searchTick(); // absent, or still busy
        rig.settle([&] { return !busy || !rig.view.messages.empty(); });
        EXPECT_EQ(rig.view.messages.size() == 1 && rig.view.messages[0] == panel::kBoxInUseText,
                  busy);
        rig.driver.addDevice(busy ? "not the box" : "2031");
        rig.core.searchTick();
        rig.settle([&] { return rig.core.connection() == Connection::Connected; });
        rig.settle();
        EXPECT_TRUE(rig.view.controlsEnabled && rig.view.twoWay.size() == 5u);
        EXPECT_EQ(rig.view.linkBoxesClosed, 1);
    }
}

// Unplugged while a link box of the exchange waits for its user: the next tick shows the
// box gone at once; the link box stays for its user.
TEST(PanelUsability, UnplugShowsWhileALinkBoxIsOpen) {
    CoreRig rig;
    rig.box.useUhdHdrInput();
    rig.started();
    rig.view.dismissLinkBoxes = nullptr;
    rig.driver.setQueueCheckCostMs(panel::kPollPeriodMs + 2000);
    rig.driver.failCall(Call::CheckRxQueue);
    rig.core.pollTick();
    rig.settle([&] { return rig.view.linkBoxes.size() == 1; });
    rig.driver.unplugAll();
    rig.core.pollTick();
    rig.settle([&] { return rig.view.warning == panel::kDisconnectedText; });
    EXPECT_TRUE(rig.view.status == status::StatusLines{} && !rig.view.controlsEnabled);
    EXPECT_EQ(rig.view.linkBoxesClosed, 0);
}

// A box that opens but answers nothing shows as left in programming mode.
TEST(PanelUsability, ASilentBoxIsShownInProgrammingMode) {
    CoreRig rig;
    rig.box.silent = true;
    rig.started();
    EXPECT_EQ(rig.view.warning, panel::kProgrammingModeText);
    EXPECT_EQ(rig.view.messages.back(), panel::kProgrammingModeHelp);
}

// What a source sends cannot break a status line over the next one.
TEST(PanelUsability, StatusLinesHoldNoControlBytes) {
    status::StatusUpdate update;
    update.video = status::StatusUpdate::Video::Set;
    update.lines.source = "SPD: a\nb\r\x7f\x85\xe9";
    status::StatusLines lines;
    lines.apply(update);
    EXPECT_EQ(lines.text[status::StatusLines::Source], "SPD: a?b???\xe9");
}

} // namespace
} // namespace telmar::test
