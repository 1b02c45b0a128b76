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

// Says the failure texts of the requests just made, one line each; true when the time
// has run out instead, and the command ends failed without a word. The panel's "..."
// for a block that could not be read says little on its own in a terminal.
bool timedOutElseSayFailures(Context& c, BoxSession& box) {
    if (c.timedOut()) {
        return true;
    }
    for (const std::string& text : box.statusBar().take()) {
        c.err << "telmarctl: " << text;
        if (text == protocol::kBlockReadFailedText) {
            c.err << " (a status block could not be read)";
        }
        c.err << std::endl;
    }
    return false;
}

// What the backend knows of why no box can be reached, one line after the link's text;
// returns `code`.
int reportReachProblem(Context& c, int code) {
    if (const std::string problem = c.driver.reachProblem(); !problem.empty()) {
        c.err << "telmarctl: " << problem << std::endl;
    }
    return code;
}

// Opens the box and runs `run` on it, or says why the box could not be opened; the
// exit code.
template <typename Run> int onOpenBox(Context& c, Run run) {
    BoxSession box(c.driver, c.clock, c.err);
    // The session's link is abandoned when the time runs out.
    const OnExpiry expiry(c.deadline, [&box] { box.abandon(); });
    const BoxSession::Opened opened = box.open(c.options.serial);
    if (c.timedOut()) {
        return kExitFailed;
    }
    switch (opened) {
    case BoxSession::Opened::Yes:
        if (c.options.verbose) {
            c.err << "telmarctl: opened the box with serial " << c.options.serial << std::endl;
        }
        return run(box);
    case BoxSession::Opened::NotFound:
        // The link has said "Connect USB cable to TELMAR"; the serial is worth adding
        // only when it is not the usual one.
        if (c.options.serial != kDefaultSerial) {
            c.err << "telmarctl: no box with the serial " << c.options.serial << std::endl;
        }
        return reportReachProblem(c, kExitNoBox);
    case BoxSession::Opened::OpenFailed:
        c.err << "telmarctl: the box was found but could not be opened; is another program, "
                 "such as the control panel, using it?"
              << std::endl;
        return reportReachProblem(c, kExitFailed);
    case BoxSession::Opened::CountFailed:
        // Not "no box": whether there is one is not known.
        c.err << "telmarctl: the USB devices could not be counted" << std::endl;
        return reportReachProblem(c, kExitFailed);
    }
    return kExitFailed;
}

// Writes the register and prints `result`: the object with --json, else its message
// when there is one.
int writeAndSay(Context& c, BoxSession& box, const panel::SettingWrite& write,
                const JsonValue& result) {
    const bool accepted = box.protocol().writeRegister(write.reg, write.value);
    if (timedOutElseSayFailures(c, box) || !accepted) {
        return kExitFailed;
    }
    if (c.options.json) {
        c.out << jsonLine(result) << std::endl;
    } else if (const auto& message = result.at("message").get_ref<const std::string&>();
               !message.empty()) {
        c.out << message << std::endl;
    }
    return kExitOk;
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

void printSettings(std::ostream& out, const std::optional<protocol::SettingsMirror>& mirror) {
    for (const SettingName& s : settingNames()) {
        out << s.name << ": " << valueOf(s.setting, mirror).value_or(kUnknown) << "\n";
    }
}

void printDetails(std::ostream& out, const Snapshot& s) {
    if (!s.details) {
        out << "\nSignal details: not read\n";
        return;
    }
    const status::DetailsView view = status::detailsView(*s.details);
    for (const status::DetailsSection& section : view.sections) {
        out << "\n" << section.title << "\n";
        for (const status::DetailRow& row : section.rows) {
            out << row.label << ": " << latin1ForTerminal(row.value) << "\n";
        }
    }
    out << "\nRaw\n";
    for (const status::RawBlockText& block : view.raw) {
        out << "Block " << unsigned{block.number} << ": " << block.hex << "\n";
    }
}

// The text `status` prints; --watch prints again when it differs.
std::string snapshotText(Context& c, const Snapshot& s) {
    std::ostringstream text;
    text << latin1ForTerminal(s.version) << "\n";
    for (const std::string& line : s.lines.text) {
        text << latin1ForTerminal(line) << "\n";
    }
    printSettings(text, s.settings);
    if (c.options.details) {
        printDetails(text, s);
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
        return reportReachProblem(c, kExitFailed);
    }
    JsonValue devices = JsonValue::array();
    int found = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        char serial[usb::kDeviceStringSize] = {};
        const bool read =
            c.driver.getDeviceString(i, serial, usb::kStringSerialNumber) == usb::kSuccess;
        serial[usb::kDeviceStringSize - 1] = '\0';
        if (!read) {
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
        auto vid = usb::readDeviceString(c.driver, i, usb::kStringVid);
        auto pid = usb::readDeviceString(c.driver, i, usb::kStringPid);
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
        return reportReachProblem(c, kExitNoBox);
    }
    return kExitOk;
}

int runStatus(Context& c) {
    return onOpenBox(c, [&](BoxSession& box) -> int {
        Snapshot shown = box.readSnapshot();
        const bool complete = box.statusBar().empty();
        if (timedOutElseSayFailures(c, box)) {
            return kExitFailed;
        }
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
                if (timedOutElseSayFailures(c, box)) {
                    return kExitFailed;
                }
                printSnapshot(c, shown);
                continue;
            }
            Snapshot now = shown;
            // A box that has gone leaves no failures to say.
            const bool attached = box.poll(now);
            if (timedOutElseSayFailures(c, box)) {
                return kExitFailed;
            }
            if (!attached) {
                connection = panel::Connection::Disconnected;
                watchEvent(c, "disconnected", kWatchGoneText);
                continue;
            }
            if (now == shown) {
                continue;
            }
            printChange(c, shown, now);
            shown = now;
        }
    });
}

int runGet(Context& c) {
    return onOpenBox(c, [&](BoxSession& box) -> int {
        const auto settings = box.readSettings();
        if (timedOutElseSayFailures(c, box) || !settings) {
            return kExitFailed;
        }
        const SettingName* only =
            c.options.setting.empty() ? nullptr : findSetting(c.options.setting);
        if (c.options.json) {
            c.out << jsonLine(settingsJson(settings, only)) << std::endl;
        } else if (only != nullptr) {
            c.out << valueOf(only->setting, settings).value_or(kUnknown) << std::endl;
        } else {
            printSettings(c.out, settings);
            c.out << std::flush;
        }
        return kExitOk;
    });
}

int runSet(Context& c) {
    const SettingName* setting = findSetting(c.options.setting);
    const auto write = setting ? settingWrite(setting->setting, c.options.value) : std::nullopt;
    if (!write) {
        return kExitUsage;
    }
    return onOpenBox(c, [&](BoxSession& box) -> int {
        if (needsGuiControl(setting->setting)) {
            const auto settings = box.readSettings();
            if (timedOutElseSayFailures(c, box) || !settings) {
                return kExitFailed;
            }
            if (!panel::controlStatesFor(*settings).guiOn) {
                c.err << "telmarctl: " << setting->name
                      << " can be set only while GUI control is on (telmarctl set gui-control on)"
                      << std::endl;
                return kExitFailed;
            }
        }
        // The panel confirms GUI control by its check box alone; a terminal needs the line.
        const std::string_view confirmation =
            write->confirmation                       ? std::string_view(write->confirmation)
            : setting->setting != Setting::GuiControl ? std::string_view()
            : c.options.value == "on"                 ? kGuiControlOnText
                                                      : kGuiControlOffText;
        return writeAndSay(
            c, box, *write,
            {{"setting", setting->name}, {"value", c.options.value}, {"message", confirmation}});
    });
}

int runHpd(Context& c) {
    return onOpenBox(c, [&](BoxSession& box) -> int {
        return writeAndSay(c, box, panel::hpdWrite(),
                           {{"setting", "hpd"}, {"message", kHpdSentText}});
    });
}

} // namespace telmar::cli
