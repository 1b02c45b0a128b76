// SPDX-License-Identifier: MIT
#include "status/VideoFormatTable.h"

#include <string_view>

namespace telmar::status {

namespace {

// Codes 65 to 80 and 103 to 107 are 64:27 variants: they carry the names of their
// 16:9 twins, so the names do not tell the two pictures apart.
constexpr std::array<VideoFormatEntry, kVideoFormatCount> kRows{{
    {"bypass", "", 0},
    {"dmt0660", "640x480p60", 1},
    {"480p60", "720x480p60", 2},
    {"480p60sh", "720x480p60w", 3},
    {"720p60", "1280x720p60", 4},
    {"1080i30", "1920x1080i60", 5},
    {"480i2x30", "720x480i60", 6},
    {"480i2xs1", "720x480i60w", 7},
    {"240p2x_1", "720x240p60n", 8},
    {"240p2xs1", "720x240p60w", 9},
    {"480i4x30", "2880x480i60n", 10},
    {"480i4xs1", "2880x480i60w", 11},
    {"240p4x_1", "2880x240p60n", 12},
    {"240p4xs1", "2880x240p60w", 13},
    {"480p2x60", "1440x480p60n", 14},
    {"480p2xs1", "1440x480p60w", 15},
    {"1080p60", "1920x1080p60", 16},
    {"576p50", "720x576p50", 17},
    {"576p50sh", "720x576p50w", 18},
    {"720p50", "1280x720p50", 19},
    {"1080i25", "1920x1080i50", 20},
    {"576i2x25", "720x576i50", 21},
    {"576i2xsh", "720x576i50w", 22},
    {"288p2x_1", "720x288p50n", 23},
    {"288p2xs1", "720x288p50w", 24},
    {"576i4x25", "2880x576i50n", 25},
    {"576i4xsh", "2880x576i50w", 26},
    {"288p4x_1", "2880x288p50n", 27},
    {"288p4xs1", "2880x288p50w", 28},
    {"576p2x50", "1440x576p50n", 29},
    {"576p2xsh", "1440x576p50w", 30},
    {"1080p50", "1920x1080p50", 31},
    {"1080p24", "1920x1080p24", 32},
    {"1080p25", "1920x1080p25", 33},
    {"1080p30", "1920x1080p30", 34},
    {"480p4x60", "2880x480p60n", 35},
    {"480p4xs1", "2880x480p60w", 36},
    {"576p4x50", "2880x576p50n", 37},
    {"576p4xsh", "2880x576p50w", 38},
    {"1080i25_", "1920x1080i50", 39},
    {"1080i50", "1920x1080i100", 40},
    {"720p100", "1280x720p100", 41},
    {"576p100", "720x576p100n", 42},
    {"576p100s", "720x576p100w", 43},
    {"576i2x50", "720x576i100n", 44},
    {"576i2xs1", "720x576i100w", 45},
    {"1080i60", "1920x1080i120", 46},
    {"720p120", "1280x720p120", 47},
    {"480p120", "720x480p120n", 48},
    {"480p120s", "720x480p120w", 49},
    {"480i2x60", "720x480i120n", 50},
    {"480i2xs4", "720x480i120w", 51},
    {"576p200", "720x576p200n", 52},
    {"576p200s", "720x576p200w", 53},
    {"576i2x_1", "720x576i200n", 54},
    {"576i2xs2", "720x576i200w", 55},
    {"480p240", "720x480p240n", 56},
    {"480p240s", "720x480p240w", 57},
    {"480i2x_2", "720x480i240n", 58},
    {"480i2xs6", "720x480i240w", 59},
    {"720p24", "1280x720p24", 60},
    {"720p25", "1280x720p25", 61},
    {"720p30", "1280x720p30", 62},
    {"1080p120", "1920x1080p120", 63},
    {"1080p100", "1920x1080p100", 64},
    {"720p24", "1280x720p24", 65},
    {"720p25", "1280x720p25", 66},
    {"720p30", "1280x720p30", 67},
    {"720p50", "1280x720p50", 68},
    {"720p60", "1280x720p60", 69},
    {"720p100", "1280x720p100", 70},
    {"720p120", "1280x720p120", 71},
    {"1080p24", "1920x1080p24", 72},
    {"1080p25", "1920x1080p25", 73},
    {"1080p30", "1920x1080p30", 74},
    {"1080p50", "1920x1080p50", 75},
    {"1080p60", "1920x1080p60", 76},
    {"1080p100", "1920x1080p100", 77},
    {"1080p120", "1920x1080p120", 78},
    {"1680p24", "1680x720p24", 79},
    {"1680p25", "1680x720p25", 80},
    {"1680p30", "1680x720p30", 81},
    {"1680p50", "1680x720p50", 82},
    {"1680p60", "1680x720p60", 83},
    {"1680p100", "1680x720p100", 84},
    {"1680p120", "1680x720p120", 85},
    {"2560p24", "2560x1080p24", 86},
    {"2560p25", "2560x1080p25", 87},
    {"2560p30", "2560x1080p30", 88},
    {"2560p50", "2560x1080p50", 89},
    {"2560p60", "2560x1080p60", 90},
    {"2560p100", "2560x1080p100", 91},
    {"2560p120", "2560x1080p120", 92},
    {"4kx2k24", "3840x2160p24", 93},
    {"4kx2k25", "3840x2160p25", 94},
    {"4kx2k30", "3840x2160p30", 95},
    {"4kx2k50", "3840x2160p50", 96},
    {"4kx2k60", "3840x2160p60", 97},
    {"4kx2ksmp24", "4096x2160p24", 98},
    {"4kx2k25", "4096x2160p25", 99},
    {"4kx2k30", "4096x2160p30", 100},
    {"4kx2k50", "4096x2160p50", 101},
    {"4kx2k60", "4096x2160p60", 102},
    {"4kx2k24", "3840x2160p24", 103},
    {"4kx2k25", "3840x2160p25", 104},
    {"4kx2k30", "3840x2160p30", 105},
    {"4kx2k50", "3840x2160p50", 106},
    {"4kx2k60", "3840x2160p60", 107},
}};

constexpr bool rowsWellFormed() {
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        if (kRows[i].code != i || std::string_view(kRows[i].shortName).size() > 10 ||
            std::string_view(kRows[i].fullName).size() >= kVideoFormatNameSize) {
            return false;
        }
    }
    return true;
}
static_assert(rowsWellFormed(), "a row's code differs from its index or a name is too long");

// Bounded even though every name fits: the buffer size is the contract, not the table.
void copyName(const char* name, VideoFormatName& out) {
    std::size_t i = 0;
    for (; i + 1 < out.size() && name[i] != '\0'; ++i) {
        out[i] = name[i];
    }
    out[i] = '\0';
}

} // namespace

const std::array<VideoFormatEntry, kVideoFormatCount> VideoFormatTable = kRows;

void lookupVideoFormat(std::uint16_t code, VideoFormatName& shortNameOut,
                       VideoFormatName& fullNameOut) {
    if (code >= kVideoFormatCount) {
        shortNameOut[0] = '\0';
        fullNameOut[0] = '\0';
        return;
    }
    copyName(VideoFormatTable[code].shortName, shortNameOut);
    copyName(VideoFormatTable[code].fullName, fullNameOut);
}

} // namespace telmar::status
