// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "link/Messages.h"
#include "link/PanelLink.h"
#include "panel/SettingsControls.h"
#include "protocol/ControlProtocol.h"
#include "protocol/Settings.h"
#include "status/StatusUpdate.h"
#include "usb/Driver.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// The control panel without its widgets. A shell (Qt, Win32) owns one PanelCore and
// implements PanelView; the core runs every exchange with the box on one worker thread
// and hands the results back to the shell's thread.
//
// Threading contract:
// - Every PanelCore method is called on the shell's thread (the one that created it).
// - The worker calls `wake` (given to the constructor) from its own thread whenever it
//   has results. The shell must then call deliver() on its own thread soon (Qt: a queued
//   call; Win32: PostMessage to the window). deliver() calls the PanelView methods.
// - PanelView methods are only called on the shell's thread, from start(), deliver() and
//   shutdown(); never from the worker.
//
// Timers: the shell owns two 3000 ms timers and starts or stops them when told to
// (setPolling, setSearching); their ticks call pollTick() and searchTick().
//
// Lifetime: the shell calls start() once its widgets exist, and shutdown() when the
// window closes, before the view goes; `wake` is never called after shutdown() returns.
namespace telmar::panel {

// The box as the panel sees it.
enum class Connection {
    Searching,    // no box since start-up (none found, or it could not be opened)
    Connected,    // open and polled
    Disconnected, // it was open and has left the bus
};

inline constexpr int kPollPeriodMs = 3000;
inline constexpr int kSearchPeriodMs = 3000;
inline constexpr std::string_view kNotFoundText = "CONNECT TELMAR AND RESTART GUI";
inline constexpr std::string_view kDisconnectedText = "TELMAR disconnected";
// On the status bar while the box is on the bus but cannot be opened and the driver
// gives no reason of its own.
inline constexpr std::string_view kBoxInUseText =
    "The TELMAR box was found but is in use by another program: close that program and the "
    "panel takes the box";
// A box that opens but answers nothing is most likely still in programming mode.
inline constexpr std::string_view kProgrammingModeText = "TELMAR IN PROGRAMMING MODE";
inline constexpr std::string_view kProgrammingModeHelp =
    "The box opens but does not answer: it may have been left in programming mode by an "
    "update that did not end. Run the update again, or unplug and plug in the box.";
// The form's labels of the seven status lines, in the order of status::StatusLines.
inline constexpr std::array<const char*, status::StatusLines::Count> kStatusLabels = {
    "label_video_format", "lblHdcp", "lblColor", "lblVideoSource", "lblHdr",
    "lblDeepC",           "lblAudio"};

// What the core asks of its shell. The warning and status-bar texts are English source
// texts that the shell translates like the form's; the version and the status lines are
// Latin-1 text as the box sent it, shown as they are.
class PanelView {
  public:
    virtual ~PanelView() = default;

    // lblWarning; an empty text clears it.
    virtual void showWarning(std::string_view text) = 0;
    // labelFw.
    virtual void showVersion(std::string_view text) = 0;
    // The seven status lines, each into its label of kStatusLabels.
    virtual void showStatus(const status::StatusLines& lines) = 0;
    // The update behind them, with the blocks as read, for a view that shows more of
    // the signal; an empty update when the box or its input is gone.
    virtual void showSignal(const status::StatusUpdate& update) { (void)update; }
    // A status-bar message shown for `timeoutMs` (0: until replaced); it replaces the
    // one shown.
    virtual void showStatusMessage(std::string_view text, int timeoutMs) = 0;

    // Check states from code: no click handler runs and nothing is written to the box.
    // `firstChecked` is the state of the pair's first control (rbEncFollow, rbLedEnable,
    // rbFrame720, rbHtpcEnable, rbHdmiAudioEnable); the second takes the opposite.
    virtual void setTwoWay(TwoWay setting, bool firstChecked) = 0;
    virtual void setGuiControl(bool on) = 0; // cbEnableGui's check state only
    virtual void setMode(ModeGroup group, ModeChoice choice) = 0;
    // The six EDID and AUDIO mode buttons.
    virtual void setModeButtonsEnabled(bool enabled) = 0;
    // Every other settings control (the check box, the CONTROL page, HPD).
    virtual void setControlsEnabled(bool enabled) = 0;
    // No button of any settings pair or group checked, cbEnableGui unchecked: nothing has
    // been read from a box yet.
    virtual void clearSettingsControls() {}

    // Start or stop the 3000 ms timer whose ticks call pollTick() / searchTick().
    virtual void setPolling(bool on) = 0;
    virtual void setSearching(bool on) = 0;

    // A warning box of the link: no owner window, one OK button. It must not block the
    // shell: show it and return; call PanelCore::linkBoxDismissed() once it is closed.
    // At most one is open at a time.
    virtual void showLinkBox(std::string_view text, std::string_view caption) = 0;
    // Close the open link box, if any, without waiting for the user (at exit).
    virtual void closeLinkBox() = 0;
    // The box was found but could not be opened ("Hardware not found", titled "TELMAR GUI").
    virtual void showOpenFailed() = 0;
    // The box has been opened: the box of showOpenFailed, if still open, is stale.
    virtual void closeOpenFailed() {}
};

class PanelCore {
  public:
    PanelCore(usb::Driver& driver, link::Clock& clock, PanelView& view, std::function<void()> wake);
    // Calls shutdown(); a shell calls it itself before its view goes.
    ~PanelCore();
    PanelCore(const PanelCore&) = delete;
    PanelCore& operator=(const PanelCore&) = delete;

    // Starts the worker and queues the start-up sequence: find and open the box, sync the
    // settings, read the version, start polling, first status update.
    void start();
    // The poll timer's tick: queues one settings sync and status update, unless a request
    // is queued or running or a link box is open (the tick is then dropped). While a link
    // box is open, either tick asks the bus instead: a box that has left is shown as
    // disconnected at once, and a box about no box or a busy box closes itself once the
    // box can be had.
    void pollTick();
    // The search timer's tick: looks for the box again, quietly, while there is none.
    void searchTick();
    // A click: queues the register write. Writes reach the box in the order of the calls.
    // Once the box accepts, the mirror is updated and the confirmation shown; when it
    // does not, the setting's controls return to what the box last confirmed.
    void write(const SettingWrite& write);

    // On the shell's thread, after `wake`: applies the worker's results in order.
    void deliver();
    // The open link box was closed by the user; the waiting exchange goes on.
    void linkBoxDismissed();

    // Ends the worker: closes the open link box, abandons the exchange in flight (its wait
    // ends within a few milliseconds), drops queued requests and closes the device.
    // Idempotent; nothing reaches the view afterwards.
    void shutdown();

    // Nothing queued, running or waiting to be delivered, and no link box open.
    bool idle() const;
    Connection connection() const { return connection_.load(); }
    const protocol::SettingsMirror& settingsMirror() const { return mirror_; }
    const link::PanelLink& link() const { return link_; }

  private:
    enum class Kind { StartUp, Poll, Search, Write };
    struct Request {
        Kind kind;
        SettingWrite write{};
    };
    using Task = std::function<void()>;

    // The link's boxes, handed to the shell's thread; the worker waits for dismissal.
    class BoxRelay final : public link::MessageSink {
      public:
        explicit BoxRelay(PanelCore& core) : core_(core) {}
        void showWarning(std::string_view text, std::string_view caption) override;

      private:
        PanelCore& core_;
    };
    // Request failures for the status bar, handed to the shell's thread.
    class StatusRelay final : public protocol::StatusSink {
      public:
        explicit StatusRelay(PanelCore& core) : core_(core) {}
        void showMessage(std::string_view text, int timeoutMs) override;

      private:
        PanelCore& core_;
    };

    void enqueue(Request request);
    // A timer tick: wakes an open link box, or queues `kind` unless work is pending.
    void tick(Kind kind);
    void post(Task task);
    void run();
    void execute(const Request& request);
    // Worker side of each request.
    void startUp();
    void connectedStart();
    void syncSettings();
    void updateStatus();
    void poll();
    void search();
    void writeSetting(const SettingWrite& write);
    // After requests that all failed: is the box still on the bus?
    void checkStillAttached(std::uint64_t succeededBefore);
    // Why the box cannot be reached (Driver::reachProblem, else kBoxInUseText for a box
    // found but not opened), onto the status bar when it changed; cleared once found.
    void tellReachProblem(bool boxFoundNotOpened);
    // A tick while a link box is open, on the worker inside the box's wait: true when the
    // box has become stale and closes itself.
    bool checkDuringBox();
    // Connected, but nothing answered: programming mode, or the box has gone.
    void tellProgrammingMode(bool silent);
    // Shell side.
    void applySettings(const link::Reply& reply, std::uint64_t writesAtStart);
    void finishWrite(const SettingWrite& write, bool accepted);
    void showControls(const ControlStates& states);
    void restoreSetting(const SettingWrite& write);
    void showDisconnected();
    void showStatus(const status::StatusUpdate& update);

    PanelView& view_;
    std::function<void()> wake_;
    usb::Driver& driver_;
    // Worker side only.
    std::string shownProblem_;
    enum class BoxAbout { Exchange, NoBox, OpenFailed };
    BoxAbout boxAbout_ = BoxAbout::Exchange; // what an open link box is about
    std::uint32_t foundIndex_ = 0;
    bool retryNow_ = false;  // a stale box closed itself: search at once
    bool lostShown_ = false; // "disconnected" was shown from inside a box
    bool programmingShown_ = false;
    BoxRelay boxes_{*this};
    StatusRelay status_{*this};
    link::PanelLink link_;
    protocol::ControlProtocol protocol_;

    mutable std::mutex mutex_;
    std::condition_variable workCv_;
    std::condition_variable boxCv_;
    std::deque<Request> queue_;
    std::deque<Task> outbox_;
    bool running_ = false; // a request is being executed
    bool boxOpen_ = false; // a link box waits for the user
    bool boxTick_ = false; // a tick came while the link box is open
    bool stopping_ = false;
    std::thread worker_;

    // Shell side only.
    std::atomic<Connection> connection_{Connection::Searching};
    protocol::SettingsMirror mirror_{};
    status::StatusLines lines_;
    ControlStates confirmed_ = formStartStates();
    bool settingsShown_ = false; // the controls show what a box said
    std::atomic<std::uint64_t> writesPosted_{0};
};

} // namespace telmar::panel
