// SPDX-License-Identifier: MIT
// The control panel's requests and status texts over a driver that the fuzzer spoils.
// A run whose driver neither failed nor altered anything must read exactly what a
// clean driver reads from the same box.

#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "protocol/Frames.h"
#include "protocol/Settings.h"
#include "sim/Scenarios.h"
#include "status/DetailsRows.h"
#include "status/StatusUpdate.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzDriver.h"

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
    return 0;
}
