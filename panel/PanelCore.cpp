// SPDX-License-Identifier: MIT
#include "panel/PanelCore.h"

#include "base/Log.h"
#include "link/DeviceSearch.h"
#include "protocol/Frames.h"

#include <string>
#include <utility>

namespace telmar::panel {

namespace {
using Lock = std::unique_lock<std::mutex>;
constexpr auto kLog = base::LogArea::Panel;
} // namespace

PanelCore::PanelCore(usb::Driver& driver, link::Clock& clock, PanelView& view,
                     std::function<void()> wake)
    : view_(view), wake_(std::move(wake)), driver_(driver), link_(driver, clock, boxes_),
      protocol_(link_, status_) {}

PanelCore::~PanelCore() {
    shutdown();
}

void PanelCore::start() {
    {
        Lock lock(mutex_);
        if (worker_.joinable() || stopping_) {
            return;
        }
    }
    view_.showVersion("");
    view_.showWarning("");
    view_.setModeButtonsEnabled(false);
    // Nothing has been read from a box: the form's starting checks would be invented.
    view_.setControlsEnabled(false);
    view_.clearSettingsControls();
    showStatus(status::StatusUpdate{});
    link_.resetDeviceHandle();
    enqueue({Kind::StartUp});
    worker_ = std::thread([this] { run(); });
}

void PanelCore::pollTick() {
    if (connection_ == Connection::Connected) {
        tick(Kind::Poll);
    }
}

void PanelCore::searchTick() {
    if (connection_ != Connection::Connected) {
        tick(Kind::Search);
    }
}

void PanelCore::tick(Kind kind) {
    Lock lock(mutex_);
    if (boxOpen_) {
        boxTick_ = true;
        boxCv_.notify_all();
        return;
    }
    // The box is still busy with the last request, or waits behind a box: this tick is
    // dropped rather than queued, so slow answers never pile up.
    if (stopping_ || running_ || !queue_.empty()) {
        return;
    }
    queue_.push_back({kind});
    workCv_.notify_one();
}

void PanelCore::write(const SettingWrite& write) {
    ++writesPosted_;
    enqueue({Kind::Write, write});
}

void PanelCore::enqueue(Request request) {
    Lock lock(mutex_);
    if (stopping_) {
        return;
    }
    queue_.push_back(request);
    workCv_.notify_one();
}

void PanelCore::post(Task task) {
    {
        Lock lock(mutex_);
        if (stopping_) {
            return;
        }
        outbox_.push_back(std::move(task));
    }
    wake_();
}

void PanelCore::deliver() {
    // One task at a time: a view call may run a nested event loop that delivers again.
    for (;;) {
        Task task;
        {
            Lock lock(mutex_);
            if (stopping_ || outbox_.empty()) {
                return;
            }
            task = std::move(outbox_.front());
            outbox_.pop_front();
        }
        task();
    }
}

void PanelCore::linkBoxDismissed() {
    Lock lock(mutex_);
    boxOpen_ = false;
    boxCv_.notify_all();
}

void PanelCore::shutdown() {
    {
        Lock lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        queue_.clear();
        outbox_.clear();
    }
    link_.abandon();
    workCv_.notify_all();
    boxCv_.notify_all();
    view_.closeLinkBox();
    if (worker_.joinable()) {
        worker_.join();
    }
    {
        Lock lock(mutex_);
        boxOpen_ = false;
        outbox_.clear();
    }
    // A failing close is not shown: the program is ending and no box may hold it up.
    link_.closeDevice();
}

bool PanelCore::idle() const {
    Lock lock(mutex_);
    return queue_.empty() && !running_ && !boxOpen_ && outbox_.empty();
}

void PanelCore::run() {
    for (;;) {
        Request request;
        {
            Lock lock(mutex_);
            workCv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                return;
            }
            request = queue_.front();
            queue_.pop_front();
            running_ = true;
        }
        execute(request);
        Lock lock(mutex_);
        running_ = false;
    }
}

void PanelCore::execute(const Request& request) {
    switch (request.kind) {
    case Kind::StartUp:
        startUp();
        break;
    case Kind::Poll:
        poll();
        break;
    case Kind::Search:
        search();
        break;
    case Kind::Write:
        writeSetting(request.write);
        break;
    }
}

// ---- Worker side --------------------------------------------------------------------

void PanelCore::BoxRelay::showWarning(std::string_view text, std::string_view caption) {
    Lock lock(core_.mutex_);
    if (core_.stopping_) {
        return;
    }
    core_.boxOpen_ = true;
    core_.outbox_.push_back(
        [this, t = std::string(text), c = std::string(caption)] { core_.view_.showLinkBox(t, c); });
    lock.unlock();
    core_.wake_();
    lock.lock();
    for (;;) {
        core_.boxCv_.wait(lock,
                          [this] { return !core_.boxOpen_ || core_.stopping_ || core_.boxTick_; });
        if (!core_.boxOpen_ || core_.stopping_) {
            return;
        }
        core_.boxTick_ = false;
        lock.unlock();
        const bool stale = core_.checkDuringBox();
        lock.lock();
        if (stale && core_.boxOpen_ && !core_.stopping_) {
            core_.boxOpen_ = false;
            core_.outbox_.push_back([this] { core_.view_.closeLinkBox(); });
            lock.unlock();
            core_.wake_();
            return;
        }
    }
}

void PanelCore::StatusRelay::showMessage(std::string_view text, int timeoutMs) {
    core_.post(
        [this, t = std::string(text), timeoutMs] { core_.view_.showStatusMessage(t, timeoutMs); });
}

void PanelCore::startUp() {
    // The search runs from the start, so a box plugged in while the link's box about no
    // box is open ends that box and is taken at once.
    post([this] { view_.setSearching(true); });
    std::uint32_t index = 0;
    boxAbout_ = BoxAbout::NoBox;
    const bool found = link_.findDevice(link::kBoxSerial, index);
    boxAbout_ = BoxAbout::Exchange;
    if (!found) {
        if (std::exchange(retryNow_, false)) {
            search();
            return;
        }
        TELMAR_LOG(kLog, "start-up: no box, looking again every 3 s");
        post([this] { view_.showWarning(kNotFoundText); });
        tellReachProblem(false);
        return;
    }
    foundIndex_ = index;
    boxAbout_ = BoxAbout::OpenFailed;
    const bool opened = link_.openDevice(index);
    boxAbout_ = BoxAbout::Exchange;
    if (!opened) {
        if (std::exchange(retryNow_, false)) {
            search();
            return;
        }
        TELMAR_LOG(kLog, "start-up: the box could not be opened");
        post([this] { view_.showOpenFailed(); });
        tellReachProblem(true);
        return;
    }
    tellReachProblem(false);
    connectedStart();
}

void PanelCore::connectedStart() {
    TELMAR_LOG(kLog, "connected: reading settings, version and status");
    lostShown_ = false;
    post([this] {
        connection_ = Connection::Connected;
        view_.setSearching(false);
        view_.closeOpenFailed();
    });
    const std::uint64_t before = link_.exchangesSucceeded();
    syncSettings();
    link::Reply version{};
    if (protocol_.readBlock(protocol::block::Version, version, protocol::block_count::Version)) {
        post([this, text = status::versionText(version)] { view_.showVersion(text); });
    }
    const bool silent = link_.exchangesSucceeded() == before;
    post([this] { view_.setPolling(true); });
    updateStatus();
    // After the reads' own failure texts, so the reason is what stays on the status bar.
    tellProgrammingMode(silent);
}

void PanelCore::tellProgrammingMode(bool silent) {
    if (silent == programmingShown_ || link_.deviceHandle() == usb::kNoHandle ||
        (silent && !link_.deviceAttached(link::kBoxSerial))) {
        return;
    }
    programmingShown_ = silent;
    if (silent) {
        TELMAR_LOG(kLog, "the box opens but answers nothing: programming mode?");
    }
    post([this, silent] {
        view_.showWarning(silent ? kProgrammingModeText : std::string_view{});
        view_.showStatusMessage(silent ? kProgrammingModeHelp : std::string_view{}, 0);
    });
}

bool PanelCore::checkDuringBox() {
    switch (boxAbout_) {
    case BoxAbout::NoBox:
        retryNow_ = link_.deviceAttached(link::kBoxSerial);
        return retryNow_;
    case BoxAbout::OpenFailed: {
        // Opened and let go at once: the search that follows the box takes it for good.
        usb::Handle probe = usb::kNoHandle;
        if (driver_.open(foundIndex_, probe) != usb::kSuccess) {
            tellReachProblem(true);
            return false;
        }
        driver_.close(probe);
        retryNow_ = true;
        return true;
    }
    case BoxAbout::Exchange:
        break;
    }
    // The box is left for its user; what it is about is shown beside it.
    if (!lostShown_ && link_.deviceHandle() != usb::kNoHandle &&
        !link_.deviceAttached(link::kBoxSerial)) {
        TELMAR_LOG(kLog, "the box has left the bus while a link box is open");
        lostShown_ = true;
        post([this] { showDisconnected(); });
    }
    return false;
}

void PanelCore::syncSettings() {
    const std::uint64_t writesAtStart = writesPosted_;
    link::Reply reply{};
    if (!protocol_.readSettings(reply, protocol::kSettingsReplyCount) ||
        reply[0] != protocol::kSettingsEcho) {
        return;
    }
    post([this, reply, writesAtStart] { applySettings(reply, writesAtStart); });
}

void PanelCore::updateStatus() {
    post([this, update = status::readStatusUpdate(protocol_)] { showStatus(update); });
}

void PanelCore::poll() {
    if (link_.deviceHandle() == usb::kNoHandle) {
        return; // the box went away after this poll was queued
    }
    const std::uint64_t before = link_.exchangesSucceeded();
    syncSettings();
    updateStatus();
    if (programmingShown_) {
        tellProgrammingMode(link_.exchangesSucceeded() == before);
    }
    checkStillAttached(before);
}

void PanelCore::search() {
    if (link_.deviceHandle() != usb::kNoHandle) {
        return;
    }
    std::uint32_t index = 0;
    if (!link_.findAndOpenQuietly(link::kBoxSerial, index)) {
        tellReachProblem(link_.deviceAttached(link::kBoxSerial));
        return;
    }
    tellReachProblem(false);
    post([this] { view_.showWarning(""); });
    connectedStart();
}

void PanelCore::writeSetting(const SettingWrite& write) {
    const std::uint64_t before = link_.exchangesSucceeded();
    const bool accepted = protocol_.writeRegister(write.reg, write.value);
    TELMAR_LOG(kLog, "write register " + std::to_string(static_cast<int>(write.reg)) + " = " +
                         std::to_string(write.value) + (accepted ? ": accepted" : ": refused"));
    post([this, write, accepted] { finishWrite(write, accepted); });
    if (!accepted) {
        checkStillAttached(before);
    }
}

void PanelCore::tellReachProblem(bool boxFoundNotOpened) {
    // Held on the status bar until it changes: a box that is there but cannot be opened
    // must not look like no box at all.
    std::string problem = driver_.reachProblem();
    if (problem.empty() && boxFoundNotOpened) {
        problem = kBoxInUseText;
    }
    if (problem == shownProblem_) {
        return;
    }
    shownProblem_ = problem;
    post([this, problem = std::move(problem)] { view_.showStatusMessage(problem, 0); });
}

void PanelCore::checkStillAttached(std::uint64_t succeededBefore) {
    // One answer is enough to know the box is there; a box that answers nothing may only
    // be slow or faulty, so the bus decides.
    if (link_.exchangesSucceeded() != succeededBefore || link_.deviceHandle() == usb::kNoHandle ||
        link_.deviceAttached(link::kBoxSerial)) {
        return;
    }
    TELMAR_LOG(kLog, "the box has left the bus");
    link_.releaseLostDevice();
    post([this] { showDisconnected(); });
}

// ---- Shell side ---------------------------------------------------------------------

void PanelCore::applySettings(const link::Reply& reply, std::uint64_t writesAtStart) {
    protocol::copySettingsBlock(reply, mirror_);
    ControlStates states = controlStatesFor(mirror_);
    // Unknown mode values leave the buttons as the last known mode set them.
    if (!states.edid) {
        states.edid = confirmed_.edid;
    }
    if (!states.audio) {
        states.audio = confirmed_.audio;
    }
    confirmed_ = states;
    if (!settingsShown_) {
        settingsShown_ = true;
        view_.setControlsEnabled(true);
    }
    // A click made after this read was sent is newer than what the read says; its own
    // result follows, and the next poll shows the box's state.
    if (writesPosted_ != writesAtStart) {
        return;
    }
    showControls(controlStatesFor(mirror_));
}

void PanelCore::showControls(const ControlStates& states) {
    for (const TwoWay setting : kTwoWays) {
        view_.setTwoWay(setting, firstChecked(states, setting));
    }
    view_.setGuiControl(states.guiOn);
    view_.setModeButtonsEnabled(states.guiOn);
    if (states.edid) {
        view_.setMode(ModeGroup::Edid, *states.edid);
    }
    if (states.audio) {
        view_.setMode(ModeGroup::Audio, *states.audio);
    }
}

void PanelCore::finishWrite(const SettingWrite& write, bool accepted) {
    if (!accepted) {
        restoreSetting(write);
        return;
    }
    if (write.mirrorIndex) {
        mirror_[*write.mirrorIndex] = write.value;
    }
    recordAccepted(confirmed_, write);
    if (write.confirmation != nullptr) {
        view_.showStatusMessage(write.confirmation, kConfirmationMs);
    }
    if (write.reg == protocol::Register::GuiEnable) {
        view_.setModeButtonsEnabled(confirmed_.guiOn);
    }
}

void PanelCore::restoreSetting(const SettingWrite& write) {
    const ControlStates& c = confirmed_;
    if (const auto setting = twoWayOf(write.reg)) {
        view_.setTwoWay(*setting, firstChecked(c, *setting));
    } else if (write.reg == protocol::Register::GuiEnable) {
        view_.setGuiControl(c.guiOn);
    } else if (write.reg == protocol::Register::EdidMode && c.edid) {
        view_.setMode(ModeGroup::Edid, *c.edid);
    } else if (write.reg == protocol::Register::AudioMode && c.audio) {
        view_.setMode(ModeGroup::Audio, *c.audio);
    }
}

void PanelCore::showStatus(const status::StatusUpdate& update) {
    lines_.apply(update);
    view_.showStatus(lines_);
    view_.showSignal(update);
}

void PanelCore::showDisconnected() {
    if (connection_ == Connection::Disconnected) {
        return; // already shown from inside a link box
    }
    connection_ = Connection::Disconnected;
    settingsShown_ = false;
    view_.setPolling(false);
    view_.showWarning(kDisconnectedText);
    showStatus(status::StatusUpdate{});
    view_.setControlsEnabled(false);
    view_.setModeButtonsEnabled(false);
    view_.setSearching(true);
}

} // namespace telmar::panel
