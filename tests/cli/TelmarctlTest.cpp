// SPDX-License-Identifier: MIT
// telmarctl as a user or a script runs it, against a private simulated box.

#include "cli/Text.h"
#include "link/PanelLink.h"
#include "panel/SettingsControls.h"
#include "protocol/ControlProtocol.h"
#include "protocol/Frames.h"
#include "sim/Box.h"
#include "status/StatusUpdate.h"
#include "tests/support/OnSimulatedBox.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/RecordingStatusSink.h"
#include "tests/support/ScriptedDriver.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"
#include "updater/Variant.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

namespace telmar {
namespace {

using test::CliResult;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// What the control panel shows for a scenario: its status code reading the blocks of
// the box's model through the panel's link and requests.
struct PanelView {
    std::string version;
    std::array<std::string, 7> lines; // Latin-1, blank when the box reports no input
};

PanelView panelView(std::string_view scenario) {
    link::VirtualClock clock;
    test::ScriptedDriver driver{clock};
    sim::Box box;
    driver.addDevice("2031");
    driver.setResponder([&](std::span<const std::uint8_t> frame) {
        auto reply = box.handleFrame(frame, clock.tickMs()).reply;
        return reply ? std::optional(test::ScriptedReply{*reply, 1}) : std::nullopt;
    });
    test::RecordingMessages messages;
    link::PanelLink link{driver, clock, messages};
    test::RecordingStatusSink statusBar;
    protocol::ControlProtocol protocol{link, statusBar};
    std::uint32_t index = 0;
    EXPECT_TRUE(link.findDevice("2031", index) && link.openDevice(index));
    EXPECT_TRUE(box.setScenario(scenario, clock.tickMs()));

    PanelView view;
    link::Reply version{};
    EXPECT_TRUE(
        protocol.readBlock(protocol::block::Version, version, protocol::block_count::Version));
    view.version = status::versionText(version);
    const status::StatusUpdate update = status::readStatusUpdate(protocol);
    EXPECT_NE(update.video, status::StatusUpdate::Video::Keep);
    if (update.video == status::StatusUpdate::Video::Set) {
        const auto& l = update.lines;
        view.lines = {l.input, l.encryption, l.color, l.source, l.hdr, l.deepColor, update.audio};
    }
    return view;
}

class Telmarctl : public test::OnSimulatedBox {
  protected:
    using OnSimulatedBox::OnSimulatedBox;

    void SetUp() override {
        OnSimulatedBox::SetUp();
        // The update lock lives here, private to this test.
        ::setenv("XDG_RUNTIME_DIR", sim.folder().c_str(), 1);
    }

    static std::vector<std::string> command(std::vector<std::string> words) {
        words.insert(words.begin(), {TELMARCTL_BINARY, "--backend", "sim"});
        return words;
    }
    static CliResult run(std::vector<std::string> words, int timeoutMs = 20000) {
        return test::runProgram(command(std::move(words)), timeoutMs);
    }
    // Settings byte k as the box holds it.
    int boxSetting(std::size_t k) {
        const std::string all = sim.status()["settings"]; // "00,01,..."
        return all.size() >= 3 * k + 2 ? std::stoi(all.substr(3 * k, 2), nullptr, 16) : -1;
    }
    std::string status(const std::string& key) { return sim.status()[key]; }
    std::string flash(const std::string& name) {
        return test::runCli({"--socket", sim.socket(), "flash", name}).out;
    }
};

TEST_F(Telmarctl, StatusShowsWhatThePanelShowsForEachScenario) {
    for (const std::string scenario : {"1080p60", "4k60-hdr", "3d-sbs", "spd-markup", "no-input"}) {
        SCOPED_TRACE(scenario);
        control("scenario " + scenario);
        const PanelView panel = panelView(scenario);

        const CliResult text = run({"status"});
        ASSERT_EQ(text.exitCode, 0) << text.err;
        const auto out = lines(text.out);
        ASSERT_GE(out.size(), 8u);
        EXPECT_EQ(out[0], cli::latin1ForTerminal(panel.version));
        for (std::size_t i = 0; i < panel.lines.size(); ++i) {
            EXPECT_EQ(out[1 + i], cli::latin1ForTerminal(panel.lines[i]));
        }

        const CliResult json = run({"--json", "status"});
        ASSERT_EQ(json.exitCode, 0) << json.err;
        const char* keys[] = {"input", "encryption", "color", "source",
                              "hdr",   "deep_color", "audio"};
        const auto object = nlohmann::json::parse(json.out);
        EXPECT_EQ(object["version"], cli::latin1ToUtf8(panel.version));
        for (std::size_t i = 0; i < panel.lines.size(); ++i) {
            EXPECT_EQ(object["lines"][keys[i]], cli::latin1ToUtf8(panel.lines[i])) << keys[i];
        }
        EXPECT_EQ(object["input"]["present"], !panel.lines[0].empty());
        EXPECT_TRUE(object["settings"].contains("gui-control"));

        // --details: the normal status, then each section's rows.
        const CliResult details = run({"status", "--details"});
        ASSERT_EQ(details.exitCode, 0) << details.err;
        EXPECT_EQ(details.out.substr(0, text.out.size()), text.out);
        for (const char* row : {"\nVideo\nInput: ", "\nHDR\nDRM InfoFrame: ",
                                "\nSource\nSPD InfoFrame: ", "\nRaw\nBlock 11: E0 "}) {
            EXPECT_NE(details.out.find(row), std::string::npos) << row << " in " << details.out;
        }
    }
}

TEST_F(Telmarctl, SetChangesTheBoxAsTheClickOnItsControlAndGetReadsItBack) {
    using panel::ModeGroup;
    using panel::TwoWay;
    // Each command against the click it stands for, in the panel's own terms.
    struct Case {
        std::string setting, value;
        std::function<panel::SettingWrite()> click;
    };
    const auto mode = [](ModeGroup g, bool up, bool mid, bool dn) {
        return [=] { return *panel::modeWrite(g, up, mid, dn); };
    };
    const Case cases[] = {
        {"gui-control", "on", [] { return panel::guiEnableWrite(true); }},
        {"edid", "dn", mode(ModeGroup::Edid, false, false, true)},   // rbEdidDn
        {"edid", "mid", mode(ModeGroup::Edid, false, true, false)},  // rbEdidMid
        {"audio", "up", mode(ModeGroup::Audio, true, false, false)}, // rbAudioUp
        {"audio", "dn", mode(ModeGroup::Audio, false, false, true)}, // rbAudioDn
        {"logo-led", "off", [] { return panel::twoWayWrite(TwoWay::LogoLed, false); }},
        {"logo-led", "on", [] { return panel::twoWayWrite(TwoWay::LogoLed, true); }},
        // rbFrame720 leaves the consulted rbFrame1080 unchecked.
        {"audio-frame", "720", [] { return panel::twoWayWrite(TwoWay::AudioFrame, false); }},
        {"audio-frame", "1080", [] { return panel::twoWayWrite(TwoWay::AudioFrame, true); }},
        // rbEnc14 leaves the consulted rbEncFollow unchecked.
        {"hdcp", "1.4", [] { return panel::twoWayWrite(TwoWay::HdcpVersion, false); }},
        {"hdcp", "follow", [] { return panel::twoWayWrite(TwoWay::HdcpVersion, true); }},
        {"htpc", "on", [] { return panel::twoWayWrite(TwoWay::Htpc, true); }},
        {"hdmi-audio-mute", "on", [] { return panel::twoWayWrite(TwoWay::HdmiAudioMute, true); }},
        {"hdmi-audio-mute", "off", [] { return panel::twoWayWrite(TwoWay::HdmiAudioMute, false); }},
        {"gui-control", "off", [] { return panel::guiEnableWrite(false); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting + " " + c.value);
        const panel::SettingWrite click = c.click();
        const CliResult set = run({"set", c.setting, c.value});
        ASSERT_EQ(set.exitCode, 0) << set.err;
        const std::string said = click.confirmation           ? click.confirmation
                                 : c.setting == "gui-control" ? "GUI control " + c.value
                                                              : "";
        EXPECT_EQ(set.out, said.empty() ? "" : said + "\n");
        ASSERT_TRUE(click.mirrorIndex);
        EXPECT_EQ(boxSetting(*click.mirrorIndex), click.value);
        if (c.setting == "edid" || c.setting == "audio") {
            continue; // with GUI control off at the end the box shows its switches instead
        }
        const CliResult get = run({"get", c.setting});
        EXPECT_EQ(get.out, c.value + "\n") << get.err;
    }

    const std::string hpds = status("hpd");
    const CliResult hpd = run({"hpd"});
    EXPECT_EQ(hpd.exitCode, 0) << hpd.err;
    EXPECT_EQ(hpd.out, "HPD/reset pulse sent\n");
    EXPECT_EQ(std::stoi(status("hpd")), std::stoi(hpds) + 1);
}

TEST_F(Telmarctl, RefusalsAndFailuresHaveTheirExitCodes) {
    // EDID and AUDIO while GUI control is off, as the panel's disabled buttons.
    const int edid = boxSetting(5);
    const std::string frames = status("frames");
    CliResult r = run({"set", "edid", "dn"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("only while GUI control is on"), std::string::npos) << r.err;
    EXPECT_EQ(boxSetting(5), edid);
    EXPECT_EQ(std::stoi(status("frames")), std::stoi(frames) + 1); // the settings read only

    // The box refuses a write: the panel's text, and nothing confirmed.
    control("fault byte0 0xE1");
    r = run({"set", "logo-led", "off"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(protocol::kWriteFailedText), std::string::npos) << r.err;

    // A status whose reads fail says so.
    control("fault byte0 0x00 always");
    r = run({"status"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(protocol::kSettingsReadFailedText), std::string::npos) << r.err;
    control("fault clear");

    // No box.
    control("unplug");
    for (const auto& words : {std::vector<std::string>{"status"}, {"list"}, {"get"}, {"hpd"}}) {
        EXPECT_EQ(run(words).exitCode, 3) << words[0];
    }
    control("plug");
    EXPECT_EQ(run({"--serial", "2032", "status"}).exitCode, 3);

    // Usage errors (the parser's own cases are in CliOptions), and an update that cannot
    // ask because standard input is no terminal.
    for (const auto& words :
         {std::vector<std::string>{"set", "logo-led", "dim"}, {"update", "fpga2"}}) {
        r = run(words);
        EXPECT_EQ(r.exitCode, 2) << words[0] << ": " << r.err;
    }
}

class TelmarctlBoxes : public Telmarctl {
  protected:
    TelmarctlBoxes() : Telmarctl({"--serials", "1111,2031,2031", "--delay-ms", "1"}) {}
};

TEST_F(TelmarctlBoxes, ListShowsEveryDeviceThatCountsAsABox) {
    CliResult r = run({"list"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "1 2031\n2 2031\n"); // the simulated box tells no USB ids
    r = run({"--json", "list"});
    EXPECT_EQ(r.out, "{\"devices\":[{\"index\":1,\"serial\":\"2031\"},"
                     "{\"index\":2,\"serial\":\"2031\"}]}\n");
    r = run({"--serial", "1111", "list"});
    EXPECT_EQ(r.out, "0 1111\n");
    EXPECT_EQ(run({"--serial", "203", "list"}).exitCode, 3);
}

TEST_F(Telmarctl, WatchPrintsAgainWhenTheInputChanges) {
    control("scenario 1080p60");
    test::ChildRun watch(command({"--json", "status", "--watch"}));
    ASSERT_TRUE(watch.waitForOut("}\n", 5000)) << watch.err();
    EXPECT_NE(watch.out().find("\"input\":\"Input : 1920x1080p60\""), std::string::npos);
    control("scenario 4k60-hdr");
    const std::string expected = cli::jsonLine(panelView("4k60-hdr").lines[0]);
    ASSERT_TRUE(watch.waitForOut("\"input\":" + expected, 8000)) << watch.out();
    const auto printed = lines(watch.out());
    ASSERT_EQ(printed.size(), 2u); // nothing printed while nothing changed
    const auto first = nlohmann::json::parse(printed[0]);
    const auto second = nlohmann::json::parse(printed[1]);
    EXPECT_EQ(first["changed"].size(), first.size() - 2); // every key but time and changed
    const auto changed = second["changed"].get<std::vector<std::string>>();
    for (const char* key : {"lines.input", "details.video.vic", "details.hdr.present"}) {
        EXPECT_NE(std::find(changed.begin(), changed.end(), key), changed.end()) << key;
    }
    EXPECT_EQ(std::find(changed.begin(), changed.end(), "version"), changed.end());
    EXPECT_TRUE(std::regex_match(second["time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    watch.signal(SIGINT);
    EXPECT_EQ(watch.finish(3000).signal, SIGINT);
}

TEST_F(Telmarctl, UpdateRefusesAnImageOfTheWrongSizeAndAnInterruptBeforeTheWrite) {
    test::TempFolder folder;
    const std::string path = folder.file("short.bin");
    std::ofstream(path, std::ios::binary) << std::string(50 * 512 - 1, 'x');
    const std::string frames = status("frames");
    CliResult r = run({"update", "fpga2", "--image", path, "--yes"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("25599 bytes"), std::string::npos) << r.err;

    // Interrupted in its first pause, before the box is opened: it ends at once.
    test::ChildRun update(command({"update", "fpga2", "--yes"}));
    ASSERT_TRUE(update.waitForOut("preparing...", 5000));
    update.signal(SIGINT);
    EXPECT_EQ(update.finish(2000).signal, SIGINT);
    EXPECT_EQ(status("frames"), frames); // no frame reached the box

    // The placeholder goes only to a simulated box, also when it comes from a file.
    const updater::Variant& variant = updater::fpga2::variant();
    if (variant.placeholderImage) {
        // The build's own, and one that differs from it but is a placeholder all the same.
        std::string bytes(variant.image.begin(), variant.image.end());
        const std::string placeholder = folder.file("placeholder.bin");
        std::ofstream(placeholder, std::ios::binary) << bytes;
        bytes.back() = static_cast<char>(~bytes.back());
        const std::string changed = folder.file("changed.bin");
        std::ofstream(changed, std::ios::binary) << bytes;
        for (const auto& image :
             {std::vector<std::string>{}, {"--image", placeholder}, {"--image", changed}}) {
            std::vector<std::string> words = {TELMARCTL_BINARY, "--backend", "usb",
                                              "update",         "fpga2",     "--yes"};
            words.insert(words.end(), image.begin(), image.end());
            r = test::runProgram(words, 5000);
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_NE(r.err.find("placeholder image, not TELMAR firmware"), std::string::npos)
                << r.err;
        }
    }
}

TEST_F(Telmarctl, UpdateWritesTheImageAndDefersAnInterruptDuringTheWrite) {
    const updater::Variant& variant = updater::fpga2::variant();
    test::ChildRun update(command({"--json", "update", "fpga2", "--yes"}));
    ASSERT_TRUE(update.waitForOut("\"block\":10,", 30000)) << update.out() << update.err();
    // One update at a time: a second one sends nothing.
    const CliResult second = run({"update", "fpga2", "--yes"});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("Another firmware update is already running"), std::string::npos)
        << second.err;
    update.signal(SIGINT);
    update.signal(SIGTERM);
    const CliResult r = update.finish(30000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("ends when the write has ended"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("{\"event\":\"progress\",\"block\":50,\"blocks\":50,\"percent\":100.0"),
              std::string::npos);
    EXPECT_NE(r.out.find("{\"event\":\"line\",\"text\":\"FLASH update ok\"}"), std::string::npos);
    EXPECT_NE(r.out.find("{\"event\":\"result\",\"outcome\":\"completed\",\"exit_code\":0}"),
              std::string::npos);
    EXPECT_EQ(status("isp"), "0");
    const std::string image(variant.image.begin(), variant.image.end());
    EXPECT_TRUE(flash("fpga2") == image);
}

} // namespace
} // namespace telmar
