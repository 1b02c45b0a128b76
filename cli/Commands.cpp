// SPDX-License-Identifier: MIT
#include "cli/Commands.h"

#include "base/Time.h"
#include "cli/BoxSession.h"
#include "cli/DetailsJson.h"
#include "cli/SettingNames.h"
#include "cli/Text.h"
#include "link/DeviceSearch.h"
#include "panel/PanelCore.h"
#include "panel/SettingsControls.h"
#include "status/DetailsRows.h"

#include <chrono>
#include <ctime>
#include <ostream>
#include <sstream>
#include <string>

namespace telmar::cli {

namespace {

constexpr std::string_view kUnknown = "unknown";

// The failure texts of the requests, one line each. The panel's "..." for a block
// that could not be read says little on its own in a terminal.
void reportFailures(Context& c, CollectedStatus& status) {
    for (const std::string& text : status.take()) {
        c.err << "telmarctl: " << text;
        if (text == protocol::kBlockReadFailedText) {
            c.err << " (a status block could not be read)";
        }
        c.err << std::endl;
    }
}

// What the backend knows of why no box can be reached, one line after the link's text.
void reportReachProblem(Context& c) {
    if (const std::string problem = c.driver.reachProblem(); !problem.empty()) {
        c.err << "telmarctl: " << problem << std::endl;
    }
}

// A session on the command's link: abandoned when the time runs out.
class Session : public BoxSession {
  public:
    explicit Session(Context& c)
        : BoxSession(c.driver, c.clock, c.err), expiry_(c.deadline, [this] { abandon(); }) {}

  private:
    OnExpiry expiry_;
};

// Opens the box, or says why not; the exit code when it failed.
std::optional<int> openBox(Context& c, BoxSession& box) {
    const BoxSession::Opened opened = box.open(c.options.serial);
    if (c.timedOut()) {
        return kExitFailed;
    }
    switch (opened) {
    case BoxSession::Opened::Yes:
        if (c.options.verbose) {
            c.err << "telmarctl: opened the box with serial " << c.options.serial << std::endl;
        }
        return std::nullopt;
    case BoxSession::Opened::NotFound:
        // The link has said "Connect USB cable to TELMAR"; the serial is worth adding
        // only when it is not the usual one.
        if (c.options.serial != kDefaultSerial) {
            c.err << "telmarctl: no box with the serial " << c.options.serial << std::endl;
        }
        reportReachProblem(c);
        return kExitNoBox;
    case BoxSession::Opened::OpenFailed:
        c.err << "telmarctl: the box was found but could not be opened; is another program, "
                 "such as the control panel, using it?"
              << std::endl;
        reportReachProblem(c);
        return kExitFailed;
    case BoxSession::Opened::CountFailed:
        // Not "no box": whether there is one is not known.
        c.err << "telmarctl: the USB devices could not be counted" << std::endl;
        reportReachProblem(c);
        return kExitFailed;
    }
    return kExitFailed;
}

// A --watch line: text on standard output, or a JSON event there and the text on
// standard error.
void watchEvent(Context& c, std::string_view event, std::string_view text) {
    if (!c.options.json) {
        c.out << "\n" << text << std::endl;
        return;
    }
    c.out << jsonLine({{"event", event}, {"time", base::isoTime(c.now())}}) << std::endl;
    if (!c.options.quiet) {
        c.err << "telmarctl: " << text << std::endl;
    }
}

std::optional<std::string_view> valueOf(Setting setting,
                                        const std::optional<protocol::SettingsMirror>& mirror) {
    if (!mirror) {
        return std::nullopt;
    }
    return settingValue(setting, panel::controlStatesFor(*mirror));
}

JsonValue settingsJson(const std::optional<protocol::SettingsMirror>& mirror,
                       const SettingName* only = nullptr) {
    JsonValue json = JsonValue::object();
    for (const SettingName& s : settingNames()) {
        if (only == nullptr || only == &s) {
            const auto value = valueOf(s.setting, mirror);
            json[std::string(s.name)] = value ? JsonValue(*value) : JsonValue();
        }
    }
    return json;
}

void printSettings(Context& c, const std::optional<protocol::SettingsMirror>& mirror) {
    for (const SettingName& s : settingNames()) {
        c.out << s.name << ": " << valueOf(s.setting, mirror).value_or(kUnknown) << "\n";
    }
}

void printDetails(Context& c, const Snapshot& s) {
    if (!s.details) {
        c.out << "\nSignal details: not read\n";
        return;
    }
    const status::DetailsView view = status::detailsView(*s.details);
    for (const status::DetailsSection& section : view.sections) {
        c.out << "\n" << section.title << "\n";
        for (const status::DetailRow& row : section.rows) {
            c.out << row.label << ": " << latin1ForTerminal(row.value) << "\n";
        }
    }
    c.out << "\nRaw\n";
    for (const status::RawBlockText& block : view.raw) {
        c.out << "Block " << unsigned{block.number} << ": " << block.hex << "\n";
    }
}

// The text `status` prints; --watch prints again when it differs.
std::string snapshotText(Context& c, const Snapshot& s) {
    std::ostringstream text;
    Context to{c.options, c.driver, c.clock, text, c.err};
    to.out << latin1ForTerminal(s.version) << "\n";
    for (const std::string& line : s.lines.text) {
        to.out << latin1ForTerminal(line) << "\n";
    }
    printSettings(to, s.settings);
    if (c.options.details) {
        printDetails(to, s);
    }
    return text.str();
}

JsonValue statusJson(const Snapshot& s) {
    static constexpr std::array<std::string_view, StatusLines::Count> kKeys = {
        "input", "encryption", "color", "source", "hdr", "deep_color", "audio"};
    const status::VideoDetails* video = s.details ? &s.details->video : nullptr;
    const std::string format = video ? status::formatName(*video) : std::string();
    JsonValue input{
        {"present", s.lines.inputPresent},
        {"format", s.lines.inputPresent && !format.empty() ? JsonValue(format) : JsonValue()},
        {"hdcp", video ? JsonValue(std::string(status::hdcpName(video->hdcp))) : JsonValue()}};
    JsonValue lines = JsonValue::object();
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        lines[std::string(kKeys[i])] = latin1ToUtf8(s.lines.text[i]);
    }
    return {{"version", latin1ToUtf8(s.version)},
            {"input", std::move(input)},
            {"lines", std::move(lines)},
            {"settings", settingsJson(s.settings)},
            {"details", s.details ? detailsJson(*s.details) : JsonValue()},
            {"raw", s.details ? rawJson(*s.details) : JsonValue()}};
}

void printSnapshot(Context& c, const Snapshot& s) {
    if (c.options.json) {
        c.out << snapshotJson(s) << std::endl;
    } else {
        c.out << snapshotText(c, s) << std::flush;
    }
}

// --watch: prints `now` when what it shows differs from `shown`, and makes it the one
// shown. With --json each object carries its time and the paths that changed, the
// first all of its keys.
void printChange(Context& c, const std::optional<Snapshot>& shown, const Snapshot& now) {
    if (!c.options.json) {
        const std::string text = snapshotText(c, now);
        if (!shown || text != snapshotText(c, *shown)) {
            c.out << (shown ? "\n" : "") << text << std::flush;
        }
        return;
    }
    JsonValue json = statusJson(now);
    std::vector<std::string> changed;
    if (shown) {
        changed = changedPaths(statusJson(*shown), json);
    } else {
        for (const auto& item : json.items()) {
            changed.push_back(item.key());
        }
    }
    if (changed.empty()) {
        return;
    }
    json["time"] = base::isoTime(c.now());
    json["changed"] = changed;
    c.out << jsonLine(json) << std::endl;
}

} // namespace

std::string snapshotJson(const Snapshot& s) {
    return jsonLine(statusJson(s));
}

int runList(Context& c) {
    std::uint32_t count = 0;
    if (c.driver.getNumDevices(count) != usb::kSuccess) {
        // Whether a box is there is not known, so this is no "no box".
        c.err << "telmarctl: the USB devices could not be counted" << std::endl;
        reportReachProblem(c);
        return kExitFailed;
    }
    const auto deviceString = [&](std::uint32_t index, std::uint32_t option) {
        char buffer[usb::kDeviceStringSize] = {};
        if (c.driver.getDeviceString(index, buffer, option) != usb::kSuccess) {
            return std::optional<std::string>{};
        }
        buffer[usb::kDeviceStringSize - 1] = '\0';
        return std::optional<std::string>{buffer};
    };
    JsonValue devices = JsonValue::array();
    int found = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        char serial[usb::kDeviceStringSize] = {};
        if (c.driver.getDeviceString(i, serial, usb::kStringSerialNumber) != usb::kSuccess) {
            if (c.options.verbose) {
                c.err << "telmarctl: device " << i << ": its serial string cannot be read"
                      << std::endl;
            }
            continue;
        }
        if (!link::serialMatches(serial, c.options.serial)) {
            if (c.options.verbose) {
                c.err << "telmarctl: device " << i << " is not a box (serial "
                      << base::printable(trimRight(serial)) << ")" << std::endl;
            }
            continue;
        }
        ++found;
        // A backend that cannot tell the ids gives no string, or zeros.
        auto vid = deviceString(i, usb::kStringVid);
        auto pid = deviceString(i, usb::kStringPid);
        if (vid && pid && *vid == "0000" && *pid == "0000") {
            vid.reset();
        }
        const bool ids = vid && pid;
        if (c.options.json) {
            JsonValue json{{"index", i}, {"serial", c.options.serial}};
            if (ids) {
                json["vid"] = *vid;
                json["pid"] = *pid;
            }
            devices.push_back(std::move(json));
        } else {
            c.out << i << " " << base::printable(c.options.serial);
            if (ids) {
                c.out << " " << base::printable(*vid) << ":" << base::printable(*pid);
            }
            c.out << "\n";
        }
    }
    if (c.options.json) {
        c.out << jsonLine(JsonValue{{"devices", devices}}) << std::endl;
    }
    c.out << std::flush;
    if (found == 0) {
        c.err << "telmarctl: no TELMAR box found (serial " << c.options.serial << ")" << std::endl;
        reportReachProblem(c);
        return kExitNoBox;
    }
    return kExitOk;
}

int runStatus(Context& c) {
    Session box(c);
    if (const auto failed = openBox(c, box)) {
        return *failed;
    }
    Snapshot shown = box.readSnapshot();
    if (c.timedOut()) {
        return kExitFailed;
    }
    const bool complete = box.statusBar().empty();
    reportFailures(c, box.statusBar());
    if (!c.options.watch) {
        printSnapshot(c, shown);
        return complete ? kExitOk : kExitFailed;
    }
    printChange(c, std::nullopt, shown);
    // Nothing else is written between changes, so a reader that has gone is noticed by
    // looking, not by the next write.
    const auto waitWhileRead = [&c] {
        for (std::uint32_t waited = 0; waited < kWatchPeriodMs; waited += kWatchOutputCheckMs) {
            if (c.outputClosed() || c.timedOut()) {
                return false;
            }
            c.clock.sleepMs(kWatchOutputCheckMs);
        }
        return !c.outputClosed() && !c.timedOut();
    };
    // The panel core's states: polled while connected, looked for every period while
    // disconnected.
    panel::Connection connection = panel::Connection::Connected;
    for (;;) {
        if (!waitWhileRead() || !c.out) {
            return c.timedOut() ? kExitFailed : kExitOk;
        }
        if (connection == panel::Connection::Disconnected) {
            if (!box.reopenQuietly()) {
                continue;
            }
            connection = panel::Connection::Connected;
            watchEvent(c, "connected", kWatchBackText);
            shown = box.readSnapshot();
            if (c.timedOut()) {
                return kExitFailed;
            }
            reportFailures(c, box.statusBar());
            printSnapshot(c, shown);
            continue;
        }
        Snapshot now = shown;
        const bool attached = box.poll(now);
        if (c.timedOut()) {
            return kExitFailed;
        }
        if (!attached) {
            connection = panel::Connection::Disconnected;
            watchEvent(c, "disconnected", kWatchGoneText);
            continue;
        }
        reportFailures(c, box.statusBar());
        if (now == shown) {
            continue;
        }
        printChange(c, shown, now);
        shown = now;
    }
}

int runGet(Context& c) {
    Session box(c);
    if (const auto failed = openBox(c, box)) {
        return *failed;
    }
    const auto settings = box.readSettings();
    if (c.timedOut()) {
        return kExitFailed;
    }
    reportFailures(c, box.statusBar());
    if (!settings) {
        return kExitFailed;
    }
    const SettingName* only = c.options.setting.empty() ? nullptr : findSetting(c.options.setting);
    if (c.options.json) {
        c.out << jsonLine(settingsJson(settings, only)) << std::endl;
    } else if (only != nullptr) {
        c.out << valueOf(only->setting, settings).value_or(kUnknown) << std::endl;
    } else {
        printSettings(c, settings);
        c.out << std::flush;
    }
    return kExitOk;
}

int runSet(Context& c) {
    const SettingName* setting = findSetting(c.options.setting);
    const auto write = setting ? settingWrite(setting->setting, c.options.value) : std::nullopt;
    if (!write) {
        return kExitUsage;
    }
    Session box(c);
    if (const auto failed = openBox(c, box)) {
        return *failed;
    }
    if (needsGuiControl(setting->setting)) {
        const auto settings = box.readSettings();
        if (c.timedOut()) {
            return kExitFailed;
        }
        reportFailures(c, box.statusBar());
        if (!settings) {
            return kExitFailed;
        }
        if (!panel::controlStatesFor(*settings).guiOn) {
            c.err << "telmarctl: " << setting->name
                  << " can be set only while GUI control is on (telmarctl set gui-control on)"
                  << std::endl;
            return kExitFailed;
        }
    }
    const bool accepted = box.protocol().writeRegister(write->reg, write->value);
    if (c.timedOut()) {
        return kExitFailed;
    }
    reportFailures(c, box.statusBar());
    if (!accepted) {
        return kExitFailed;
    }
    // The panel confirms GUI control by its check box alone; a terminal needs the line.
    const std::string_view confirmation =
        write->confirmation                       ? std::string_view(write->confirmation)
        : setting->setting != Setting::GuiControl ? std::string_view()
        : c.options.value == "on"                 ? kGuiControlOnText
                                                  : kGuiControlOffText;
    if (c.options.json) {
        c.out << jsonLine({{"setting", setting->name},
                           {"value", c.options.value},
                           {"message", confirmation}})
              << std::endl;
    } else if (!confirmation.empty()) {
        c.out << confirmation << std::endl;
    }
    return kExitOk;
}

int runHpd(Context& c) {
    Session box(c);
    if (const auto failed = openBox(c, box)) {
        return *failed;
    }
    const panel::SettingWrite write = panel::hpdWrite();
    const bool accepted = box.protocol().writeRegister(write.reg, write.value);
    if (c.timedOut()) {
        return kExitFailed;
    }
    reportFailures(c, box.statusBar());
    if (!accepted) {
        return kExitFailed;
    }
    if (c.options.json) {
        c.out << jsonLine({{"setting", "hpd"}, {"message", kHpdSentText}}) << std::endl;
    } else {
        c.out << kHpdSentText << std::endl;
    }
    return kExitOk;
}

} // namespace telmar::cli
