// SPDX-License-Identifier: MIT
// The control panel's requests and status texts over a driver that the fuzzer spoils.
// A run whose driver neither failed nor altered anything must read exactly what a
// clean driver reads from the same box.

#include "cli/DetailsJson.h"
#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "protocol/Frames.h"
#include "protocol/Settings.h"
#include "sim/Scenarios.h"
#include "status/DetailsRows.h"
#include "status/StatusUpdate.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzDriver.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace telmar;

struct Quiet final : link::MessageSink, protocol::StatusSink {
    void showWarning(std::string_view, std::string_view) override {}
    void showMessage(std::string_view, int) override {}
};

struct Reading {
    bool found = false;
    bool settingsRead = false;
    link::Reply settings{};
    std::string version;
    status::StatusUpdate update;
};

Reading readPanel(FuzzedDataProvider& in, sim::Box& box, bool& clean) {
    link::VirtualClock clock;
    fuzz::FuzzDriver driver(in, clock, box);
    Quiet quiet;
    link::PanelLink link(driver, clock, quiet);
    protocol::ControlProtocol protocol(link, quiet);
    Reading r;
    std::uint32_t index = 0;
    r.found = link.findDevice("2031", index) && link.openDevice(index);
    if (r.found) {
        r.settingsRead = protocol.readSettings(r.settings, protocol::kSettingsReplyCount);
        link::Reply version{};
        if (protocol.readBlock(protocol::block::Version, version, protocol::block_count::Version)) {
            r.version = status::versionText(version);
        }
        r.update = status::readStatusUpdate(protocol);
        FUZZ_CHECK(!link.linkBusy());
        // A write the fuzzer picks, register and value alike, must not upset anything.
        protocol.writeRegister(in.ConsumeIntegral<std::uint8_t>(),
                               in.ConsumeIntegral<std::uint8_t>());
        FUZZ_CHECK(!link.linkBusy());
    }
    link.closeDevice();
    FUZZ_CHECK(link.deviceHandle() == usb::kNoHandle);
    clean = !driver.tampered() && !driver.failedAny();
    return r;
}

// A string of telmarctl's JSON: UTF-8 (the dump replaces anything else) without control
// characters, so a script or terminal that prints it prints text.
void checkJsonStrings(const cli::JsonValue& value) {
    if (value.is_string()) {
        for (const char c : value.get<std::string>()) {
            const auto u = static_cast<unsigned char>(c);
            FUZZ_CHECK(u >= 0x20 && u != 0x7F);
        }
    } else if (value.is_number_float()) {
        FUZZ_CHECK(std::isfinite(value.get<double>()));
    }
    if (value.is_structured()) {
        for (const auto& item : value) {
            checkJsonStrings(item);
        }
    }
}

// telmarctl's JSON of the details: it survives a round trip through its own text, and
// two readings differ in a path exactly when their JSON differs.
void checkJson(const status::SignalDetails& details, const status::SignalDetails& other) {
    const cli::JsonValue json{{"details", cli::detailsJson(details)},
                              {"raw", cli::rawJson(details)}};
    const cli::JsonValue parsed = cli::JsonValue::parse(cli::jsonLine(json), nullptr, false);
    FUZZ_CHECK(!parsed.is_discarded() && parsed == json);
    checkJsonStrings(json);
    const cli::JsonValue otherJson{{"details", cli::detailsJson(other)},
                                   {"raw", cli::rawJson(other)}};
    FUZZ_CHECK(cli::changedPaths(json, otherJson).empty() == (json == otherJson));
    FUZZ_CHECK(cli::changedPaths(json, json).empty());
}

// The details of whatever the spoiled link delivered: every row has a printable value.
void checkDetails(const status::StatusBlocks& blocks) {
    for (const auto& section : status::detailsView(status::decodeSignalDetails(blocks)).sections) {
        for (const auto& row : section.rows) {
            FUZZ_CHECK(!row.value.empty() && row.value.size() < 512);
            for (const char c : row.value) {
                const auto u = static_cast<unsigned char>(c);
                FUZZ_CHECK(u >= 0xA0 || (u >= 0x20 && u < 0x7F));
            }
        }
    }
}

void checkBounded(const Reading& r) {
    checkDetails(r.update.blocks);
    const auto& l = r.update.lines;
    for (const std::string* text : {&r.version, &l.input, &l.encryption, &l.color, &l.source,
                                    &l.hdr, &l.deepColor, &r.update.audio}) {
        FUZZ_CHECK(text->size() < 512);
    }
}

} // namespace

// Blocks of any bytes at all, each read or not, as the decoder and the JSON get them.
status::StatusBlocks randomBlocks(FuzzedDataProvider& in) {
    status::StatusBlocks blocks;
    for (std::size_t i = 0; i < blocks.replies.size(); ++i) {
        blocks.read[i] = in.ConsumeBool();
        const auto bytes = in.ConsumeBytes<std::uint8_t>(blocks.replies[i].size());
        std::copy(bytes.begin(), bytes.end(), blocks.replies[i].begin());
    }
    return blocks;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const auto presets = sim::scenarios();
    const auto& scenario = presets[in.ConsumeIntegralInRange<std::size_t>(0, presets.size() - 1)];
    sim::Box box;
    box.setScenario(scenario.name, 0);
    bool clean = false;
    const Reading spoiled = readPanel(in, box, clean);
    checkBounded(spoiled);
    if (clean) {
        sim::Box twin;
        twin.setScenario(scenario.name, 0);
        FuzzedDataProvider nothing(nullptr, 0);
        bool alsoClean = false;
        const Reading model = readPanel(nothing, twin, alsoClean);
        FUZZ_CHECK(alsoClean && model.found);
        FUZZ_CHECK(spoiled.found);
        FUZZ_CHECK(spoiled.settingsRead && spoiled.settings == model.settings);
        FUZZ_CHECK(spoiled.version == model.version);
        FUZZ_CHECK(spoiled.update.video == model.update.video);
        FUZZ_CHECK(spoiled.update.lines == model.update.lines);
        FUZZ_CHECK(spoiled.update.audio == model.update.audio);
        FUZZ_CHECK(status::decodeSignalDetails(spoiled.update.blocks) ==
                   status::decodeSignalDetails(model.update.blocks));
    }
    // What the link left over: blocks of any bytes, against those the box sent.
    const status::StatusBlocks blocks = randomBlocks(in);
    checkDetails(blocks);
    checkJson(status::decodeSignalDetails(blocks),
              status::decodeSignalDetails(spoiled.update.blocks));
    return 0;
}
