// SPDX-License-Identifier: MIT
// The signal details against the reference's worked examples, and any bytes at all.
#include "base/Printable.h"
#include "status/DetailsRows.h"
#include "status/SignalHistory.h"

#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

namespace telmar::test {
namespace {

using status::StatusBlocks;

link::Reply hexReply(std::string_view hex) {
    link::Reply r{};
    std::istringstream in{std::string(hex)};
    unsigned byte = 0;
    for (std::size_t i = 0; in >> std::hex >> byte; ++i) {
        r[i] = static_cast<std::uint8_t>(byte);
    }
    return r;
}

// The reference's five worked examples, one per block.
StatusBlocks examples() {
    StatusBlocks b;
    b.replies = {hexReply("E0 00 20 01 04 05 C0"),
                 hexReply("E0 00 00 00 70 C8 60 61 00 00 00 00 00 00 00 00 00"),
                 hexReply("E0 00 83 01 19 2F 41 43 4D 45 00 00 00 00 55 48 44 20 42 44 20 50 "
                          "6C 61 79 65 72 00 00 00 0A 00 00"),
                 hexReply("E0 00 87 01 1A 91 02 00 34 21 AA 9B 96 19 FC 08 48 8A 08 39 13 3D "
                          "42 40 E8 03 32 00 E8 03 90 01 00"),
                 hexReply("E0 00 00 00 02 04 00 00 02 DB 00 00 05 00 00 0B")};
    b.read.fill(true);
    return b;
}

std::map<std::string, status::DetailRow> rowsByKey(const status::SignalDetails& d) {
    std::map<std::string, status::DetailRow> rows;
    for (const auto& section : status::detailsView(d).sections) {
        for (const auto& row : section.rows) {
            rows[row.key] = row;
        }
    }
    return rows;
}

TEST(SignalDetailsTest, WorkedExamplesGiveTheReferenceNamesAndNumbers) {
    const auto rows = rowsByKey(status::decodeSignalDetails(examples()));
    const std::pair<const char*, const char*> kExpected[] = {
        {"video.input_present", "present"},
        {"video.hdmi_vic", "1"},
        {"video.hdcp", "HDCP 2.2 [2]"},
        {"video.deep_color_bits", "10 bits per component [5]"},
        {"video.vic", "97"},
        {"video.format", "3840x2160p60"},
        {"video.active_width", "3840 pixels"},
        {"video.field_rate_hz", "60 Hz"},
        {"video.pixel_clock_mhz", "594 MHz"},
        {"video.picture_aspect", "16:9"},
        {"video.color_format", "YCbCr 4:2:0 [3]"},
        {"video.colorimetry", "ITU-R BT.2020 RGB or YCbCr [C 3, EC 6]"},
        {"video.rgb_quantization", "default [0]"},
        {"video.ycc_quantization", "limited [0]"},
        {"video.active_format", "same as the coded frame [8]"},
        {"video.pixel_repetition", "each pixel sent once [0]"},
        {"video.bars", "no bar data [0]"},
        {"source.checksum_ok", "OK"},
        {"source.vendor", "ACME"},
        {"source.product", "UHD BD Player"},
        {"source.device_type", "Blu-Ray Disc (BD) [0x0A]"},
        {"hdr.checksum_ok", "OK"},
        {"hdr.eotf", "SMPTE ST 2084 (PQ) [2]"},
        {"hdr.primaries.red", "x 0.7080, y 0.2920 (sent as primary 2)"},
        {"hdr.primaries.green", "x 0.1700, y 0.7970 (sent as primary 0)"},
        {"hdr.primaries.blue", "x 0.1310, y 0.0460 (sent as primary 1)"},
        {"hdr.white_point", "D65, x 0.3127, y 0.3290"},
        {"hdr.gamut", "BT.2020"},
        {"hdr.max_luminance_cd_m2", "1000 cd/m2"},
        {"hdr.min_luminance_cd_m2", "0.0050 cd/m2"},
        {"hdr.max_cll_cd_m2", "1000 cd/m2"},
        {"hdr.max_fall_cd_m2", "400 cd/m2"},
        {"audio.sample_rate_hz", "48 kHz [2]"},
        {"audio.channel_status.linear_pcm", "linear PCM"},
        {"audio.channel_status.copyright_asserted", "not asserted"},
        {"audio.channel_status.pre_emphasis", "none [0]"},
        {"audio.channel_status.category_code", "general [0x00]"},
        {"audio.channel_status.source_number", "not specified [0]"},
        {"audio.channel_status.sample_rate_hz", "48 kHz [0x02]"},
        {"audio.channel_status.clock_accuracy", "Level II (+-1000 ppm) [0]"},
        {"audio.channel_status.word_length_bits", "24 bits [0x0B]"},
        {"audio.channel_status.original_sample_rate_hz", "48 kHz [0x0D]"},
        {"audio.infoframe.coding_type", "refer to stream header [0]"},
        {"audio.infoframe.channel_count", "6"},
        {"audio.infoframe.sample_rate_hz", "refer to stream header [0]"},
        {"audio.infoframe.speakers", "FL FR LFE1 FC LS RS"},
    };
    for (const auto& [key, value] : kExpected) {
        ASSERT_TRUE(rows.count(key)) << key;
        EXPECT_EQ(rows.at(key).value, value) << key;
    }
    // What the signal does not carry is no value, whatever the row says about it.
    for (const char* key : {"video.bars", "video.scan", "audio.infoframe.coding_type",
                            "audio.infoframe.sample_rate_hz", "audio.channel_status.source_number"})
        EXPECT_EQ(rows.at(key).hasValue, std::string(key).ends_with("source_number")) << key;
}

// A corrupted byte fails the checksum of its own frame only, and the frame still decodes.
TEST(SignalDetailsTest, ChecksumFailureIsNamedAndTheFrameStillDecodes) {
    for (const std::size_t block : {2u, 3u}) {
        StatusBlocks b = examples();
        b.replies[block][8] ^= 0x01;
        const auto d = status::decodeSignalDetails(b);
        EXPECT_EQ(d.source->checksumOk, block != 2);
        EXPECT_EQ(d.hdr->checksumOk, block != 3);
        EXPECT_TRUE(d.source->vendor && d.hdr->metadata);
    }
    StatusBlocks tooLong = examples();
    tooLong.replies[3][4] = 40; // the payload would run past the 33 bytes read
    EXPECT_EQ(status::decodeSignalDetails(tooLong).hdr->checksumOk, std::nullopt);
}

// Primaries in any order name their gamut within the tolerance, and nothing else does.
TEST(SignalDetailsTest, MasteringPrimariesNameTheirGamutInAnyOrder) {
    struct Case {
        std::array<double, 6> rgb; // R x,y  G x,y  B x,y
        double shift;
        status::Gamut gamut;
    };
    const Case kCases[] = {
        {{0.640, 0.330, 0.300, 0.600, 0.150, 0.060}, 0.0, status::Gamut::Bt709},
        {{0.680, 0.320, 0.265, 0.690, 0.150, 0.060}, 0.004, status::Gamut::DciP3D65},
        {{0.708, 0.292, 0.170, 0.797, 0.131, 0.046}, -0.004, status::Gamut::Bt2020},
        {{0.708, 0.292, 0.170, 0.797, 0.131, 0.046}, 0.006, status::Gamut::Other},
    };
    const std::array<std::array<int, 3>, 3> kOrders{{{0, 1, 2}, {1, 2, 0}, {2, 0, 1}}};
    for (const Case& c : kCases) {
        for (const auto& order : kOrders) {
            StatusBlocks b = examples();
            for (std::size_t slot = 0; slot < 3; ++slot) {
                for (std::size_t axis = 0; axis < 2; ++axis) {
                    const auto code = static_cast<std::uint16_t>(
                        std::lround((c.rgb[order[slot] * 2 + axis] + c.shift) / 0.00002));
                    b.replies[3][8 + slot * 4 + axis * 2] = static_cast<std::uint8_t>(code);
                    b.replies[3][9 + slot * 4 + axis * 2] = static_cast<std::uint8_t>(code >> 8);
                }
            }
            const auto m = *status::decodeSignalDetails(b).hdr->metadata;
            EXPECT_EQ(m.gamut, c.gamut) << c.rgb[0] << " order " << order[0];
            EXPECT_NEAR(m.red.x(), c.rgb[0] + c.shift, 0.00002);
            EXPECT_EQ(m.sentIndex[0], std::find(order.begin(), order.end(), 0) - order.begin());
        }
    }
}

TEST(SignalDetailsTest, ChannelAllocationsFollowTheTable) {
    // Channel count of codes 0x00 to 0x31, from the standard's table.
    constexpr int kCounts[] = {2, 3, 3, 4, 3, 4, 4, 5, 4, 5, 5, 6, 5, 6, 6, 7, 6,
                               7, 7, 8, 4, 5, 5, 6, 5, 6, 6, 7, 6, 7, 7, 8, 6, 7,
                               6, 7, 6, 7, 6, 7, 7, 8, 7, 8, 7, 8, 7, 8, 7, 8};
    StatusBlocks b = examples();
    for (unsigned ca = 0; ca < 256; ++ca) {
        b.replies[4][15] = static_cast<std::uint8_t>(ca);
        const auto frame = status::decodeSignalDetails(b).audio->infoFrame;
        if (ca >= std::size(kCounts)) {
            EXPECT_FALSE(frame.channelSlots) << ca;
            continue;
        }
        EXPECT_EQ(frame.speakers().size(), std::size_t(kCounts[ca])) << ca;
        EXPECT_EQ((*frame.channelSlots)[2] == status::Speaker::LFE1, ca % 2 == 1) << ca;
    }
    b.replies[4][15] = 0x2F;
    EXPECT_EQ(rowsByKey(status::decodeSignalDetails(b)).at("audio.infoframe.speakers").value,
              "FL FR LFE1 FC LS RS TpFL TpFR");
}

TEST(SignalDetailsTest, VideoCodesGiveTheirTimingsAndReservedCodesNone) {
    const std::pair<unsigned, const char*> kNames[] = {
        {1, "640x480p59.94"},   {5, "1920x1080i60"},    {97, "3840x2160p60"},
        {127, "5120x2160p100"}, {193, "5120x2160p120"}, {219, "4096x2160p120"}};
    for (const auto& [vic, name] : kNames) {
        EXPECT_EQ(status::videoTimingName(*status::lookupVideoTiming(std::uint8_t(vic))), name);
    }
    EXPECT_EQ(status::lookupVideoTiming(1)->pixelClockKhz, 25175u);
    for (const unsigned reserved : {0u, 128u, 192u, 220u, 255u}) {
        EXPECT_EQ(status::lookupVideoTiming(std::uint8_t(reserved)), nullptr) << reserved;
    }
}

void expectPrintableRows(const status::SignalDetails& d, const std::vector<std::string>& keys) {
    std::vector<std::string> seen;
    for (const auto& section : status::detailsView(d).sections) {
        for (const auto& row : section.rows) {
            seen.push_back(row.key);
            ASSERT_FALSE(row.value.empty()) << row.key;
            for (const char c : row.value) {
                ASSERT_FALSE(base::isControlByte(static_cast<unsigned char>(c))) << row.key;
            }
        }
    }
    ASSERT_EQ(seen, keys); // the same rows, whatever the bytes
}

// Every value of every byte of every block, one at a time over the worked examples, and
// random blocks: each field has a value or is empty, every text is printable.
TEST(SignalDetailsTest, AnyBytesGiveAValueOrNothingForEveryField) {
    std::vector<std::string> ordered;
    for (const auto& s : status::detailsView(status::decodeSignalDetails(examples())).sections) {
        for (const auto& r : s.rows) {
            ordered.push_back(r.key);
        }
    }
    for (std::size_t block = 0; block < StatusBlocks::kCount; ++block) {
        for (std::size_t offset = 1; offset < StatusBlocks::kLengths[block]; ++offset) {
            for (unsigned value = 0; value < 256; ++value) {
                StatusBlocks b = examples();
                b.replies[block][offset] = static_cast<std::uint8_t>(value);
                expectPrintableRows(status::decodeSignalDetails(b), ordered);
            }
        }
    }
    std::mt19937 random(22);
    for (int run = 0; run < 500; ++run) {
        StatusBlocks b;
        for (std::size_t i = 0; i < StatusBlocks::kCount; ++i) {
            b.read[i] = random() % 4 != 0;
            for (auto& byte : b.replies[i]) {
                byte = static_cast<std::uint8_t>(random());
            }
        }
        expectPrintableRows(status::decodeSignalDetails(b), ordered);
    }
}

TEST(SignalHistoryTest, RecordsWhatChangedAndKeepsItsBound) {
    using std::chrono::seconds;
    const std::chrono::system_clock::time_point t0{seconds(1'772'366'400)}; // 2026-03-01
    StatusBlocks hdr = examples();
    StatusBlocks sdr = examples();
    sdr.replies[3][6] = 0; // EOTF SDR
    sdr.replies[3][5] = static_cast<std::uint8_t>(sdr.replies[3][5] + 2);
    StatusBlocks none = examples();
    none.replies[0][6] = 0;

    status::SignalHistory history;
    history.record(t0, status::decodeSignalDetails(none));
    EXPECT_TRUE(history.entries().empty());
    history.record(t0 + seconds(1), status::decodeSignalDetails(hdr));
    history.record(t0 + seconds(2), status::decodeSignalDetails(hdr));
    StatusBlocks hdrUnread = hdr; // a passing read failure is no change
    hdrUnread.read[3] = false;
    history.record(t0 + seconds(2), status::decodeSignalDetails(hdrUnread));
    history.record(t0 + seconds(3), status::decodeSignalDetails(sdr));
    history.record(t0 + seconds(4), status::decodeSignalDetails(none));
    std::vector<status::ChangeKind> kinds;
    for (const auto& e : history.entries()) {
        kinds.push_back(e.kind);
    }
    EXPECT_EQ(kinds, (std::vector{status::ChangeKind::InputAppeared, status::ChangeKind::HdrOff,
                                  status::ChangeKind::InputLost}));
    EXPECT_EQ(history.entries()[0].text, "Input: 3840x2160p60");

    std::ostringstream json, csv;
    history.writeJsonLines(json);
    history.writeCsv(csv);
    std::istringstream lines(json.str());
    std::string line;
    std::getline(lines, line);
    const auto first = nlohmann::json::parse(line);
    EXPECT_EQ(first["time"], "2026-03-01T12:00:01.000Z");
    EXPECT_EQ(first["event"], "input appeared");
    EXPECT_EQ(csv.str().substr(0, csv.str().find('\n', 23)),
              "time,event,change,keys\n2026-03-01T12:00:01.000Z,\"input appeared\","
              "\"Input: 3840x2160p60\",\"video.input_present\"");

    for (int i = 0; i < 10'001; ++i) {
        history.record(t0 + seconds(5 + i), status::decodeSignalDetails(i % 2 ? none : hdr));
    }
    EXPECT_EQ(history.entries().size(), status::SignalHistory::kDefaultCapacity);
    EXPECT_EQ(history.dropped(), 3u + 10'001u - status::SignalHistory::kDefaultCapacity);
    EXPECT_EQ(history.entries().back().kind, status::ChangeKind::InputAppeared);
}

} // namespace
} // namespace telmar::test
