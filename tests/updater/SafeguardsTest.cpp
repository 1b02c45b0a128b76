// SPDX-License-Identifier: MIT
// What keeps an update from harming a box: the checks before the first frame, the
// update lock, the box that cannot be opened, and the write guard around the write.
#include "updater/Safeguards.h"

#include "tests/updater/FlashFixture.h"

#include <gtest/gtest.h>

namespace telmar::test {
namespace {

using Outcome = updater::FlashUpdate::Outcome;

class FakeLock final : public updater::UpdateLock {
  public:
    bool tryLock() override {
        if (held || takenElsewhere) {
            return false;
        }
        held = true;
        return true;
    }
    void unlock() override { held = false; }
    bool held = false;
    bool takenElsewhere = false; // another updater holds it
};

// Records when the guard was taken and given back, in frames written so far.
class FakeGuard final : public updater::WriteGuard {
  public:
    explicit FakeGuard(const std::atomic<std::uint32_t>& frames) : frames_(frames) {}
    void begin(std::string_view why) override {
        reason = why;
        beganAt.push_back(frames_.load());
    }
    void end() override { endedAt.push_back(frames_.load()); }
    std::string reason;
    std::vector<std::uint32_t> beganAt;
    std::vector<std::uint32_t> endedAt;

  private:
    const std::atomic<std::uint32_t>& frames_;
};

bool mentions(const UiEvent& e, std::string_view words) {
    return e.kind == UiEvent::Warning && e.text.find(words) != std::string::npos;
}

struct StartCase {
    const char* name;
    bool placeholder;
    bool simulatedBox;
    bool damaged;
    const char* refusal; // words of the one box, or nullptr: the update runs
};

class StartChecks : public testing::TestWithParam<StartCase> {};

TEST_P(StartChecks, RefuseBeforeAnyDriverCallOrRunToTheEnd) {
    const StartCase& c = GetParam();
    updater::Variant variant = updater::fpga2::variant();
    variant.placeholderImage = c.placeholder;
    if (c.damaged) {
        variant.imageCrc32 ^= 0x00010000u;
    }
    FlashRun run(variant);
    run.driver.setSimulatedBox(c.simulatedBox);

    const Outcome outcome = run.flash.FlashUpdateThread();

    if (c.refusal == nullptr) {
        EXPECT_EQ(outcome, Outcome::Completed);
        EXPECT_EQ(run.driver.writtenFrames().size(), 1653u);
        EXPECT_TRUE(run.ui.of(UiEvent::Warning).empty());
        return;
    }
    EXPECT_EQ(outcome, Outcome::Refused);
    EXPECT_TRUE(run.driver.calls().empty()) << "the driver was used";
    const auto events = run.ui.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(mentions(events[0], c.refusal)) << events[0].text;
    EXPECT_EQ(events[0].caption, updater::kSafetyCaption);
    EXPECT_EQ(run.clock.sleptMs(), 0u) << "the refusal must come at once";
}

INSTANTIATE_TEST_SUITE_P(
    Images, StartChecks,
    testing::Values(StartCase{"placeholderOnRealBox", true, false, false,
                              "placeholder image, not TELMAR firmware"},
                    StartCase{"placeholderOnSimulatedBox", true, true, false, nullptr},
                    StartCase{"firmwareOnRealBox", false, false, false, nullptr},
                    StartCase{"damagedImage", false, false, true, "damaged"},
                    StartCase{"damagedPlaceholderOnSimulatedBox", true, true, true, "damaged"}),
    [](const auto& tp) { return std::string(tp.param.name); });

TEST(UpdateLock, ASecondUpdateSendsNothingAndEveryRunGivesTheLockBack) {
    struct Case {
        const char* name;
        bool takenElsewhere;
        bool openFails;
        Outcome outcome;
    };
    const Case cases[] = {
        {"another update runs", true, false, Outcome::Refused},
        {"complete", false, false, Outcome::Completed},
        {"box in use", false, true, Outcome::BoxInUse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeLock lock;
        lock.takenElsewhere = c.takenElsewhere;
        FlashRun run(updater::fpga2::variant(), true, {.lock = &lock});
        if (c.openFails) {
            run.driver.failCall(Call::Open, -1, usb::kAccessDenied);
        }
        EXPECT_EQ(run.flash.FlashUpdateThread(), c.outcome);
        EXPECT_FALSE(lock.held);
        if (c.takenElsewhere) {
            EXPECT_TRUE(run.driver.calls().empty());
            ASSERT_EQ(run.ui.events().size(), 1u);
            EXPECT_TRUE(mentions(run.ui.events()[0], "Another firmware update is already running"));
        }
    }
}

TEST(BoxInUse, FoundButUnopenableBoxIsShownNotSilent) {
    // Open refused (another program holds the box), or opened but its buffers not cleared.
    for (const Call failing : {Call::Open, Call::Flush}) {
        const bool open = failing == Call::Open;
        FlashRun run(updater::fpga2::variant());
        run.driver.failCall(failing);
        EXPECT_EQ(run.flash.FlashUpdateThread(), open ? Outcome::BoxInUse : Outcome::BoxFailed);
        EXPECT_TRUE(run.driver.writtenFrames().empty());
        EXPECT_EQ(run.driver.openHandles(), 0);
        const auto warnings = run.ui.of(UiEvent::Warning);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_TRUE(mentions(warnings[0], open ? "found but could not be opened"
                                               : "clearing its USB buffers failed"));
        EXPECT_EQ(mentions(warnings[0], "control panel"), open);
        EXPECT_EQ(run.lineTexts().back(), padded("preparing...", 26));
    }
}

TEST(WriteGuard, HeldFromBeforeTheFirstFrameUntilAfterTheLast) {
    std::atomic<std::uint32_t> frames{0};
    FakeGuard guard(frames);
    {
        FlashRun run(updater::fpga2::variant(), true, {.writeGuard = &guard});
        run.driver.setResponder([&](std::span<const std::uint8_t> f) {
            const std::uint32_t index = run.frames++;
            frames = run.frames.load();
            return acceptingBox(kindOf(f), f, index);
        });
        EXPECT_EQ(run.flash.FlashUpdateThread(), Outcome::Completed);
        EXPECT_EQ(guard.beganAt, std::vector<std::uint32_t>{0});
        EXPECT_EQ(guard.endedAt, std::vector<std::uint32_t>{1653});
        EXPECT_FALSE(guard.reason.empty());
    }
    // Nothing to write, nothing to guard.
    for (const bool attached : {false, true}) {
        FakeGuard unused(frames);
        FlashRun run(updater::fpga2::variant(), attached, {.writeGuard = &unused});
        if (attached) {
            run.driver.failCall(Call::Open);
        }
        run.flash.FlashUpdateThread();
        EXPECT_TRUE(unused.beganAt.empty());
        EXPECT_TRUE(unused.endedAt.empty());
    }
}

} // namespace
} // namespace telmar::test
