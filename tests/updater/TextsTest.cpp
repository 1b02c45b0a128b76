// SPDX-License-Identifier: MIT
#include "updater/Texts.h"

#include "tests/support/RecordingMessages.h"
#include "updater/Variant.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace telmar::test {
namespace {

using updater::Variant;

struct BuildCase {
    const char* name;
    const Variant& (*variant)();
    const char* title;
    const char* version;
    char digit;
    int largeIconSize;
};

const BuildCase kBuilds[] = {
    {"FPGA1", updater::fpga1::variant, "TELMAR FPGA1 Update", "Version: 24", '1', 48},
    {"FPGA2", updater::fpga2::variant, "TELMAR FPGA2 Update", "Version: 2.18", '2', 64},
};

class BuildTexts : public testing::TestWithParam<BuildCase> {};

TEST_P(BuildTexts, GreetingLinesAtTheirPlaces) {
    RecordingMessages lines;
    updater::drawGreeting(lines, GetParam().variant());
    const std::vector<DrawnLine> expected = {
        {GetParam().title, 10},
        {GetParam().version, 30},
        {"Connect USB cable to TELMAR", 80},
        {"Close other software (e.g. GUI)", 100},
    };
    EXPECT_EQ(lines.lines(), expected);
}

TEST_P(BuildTexts, IconsHaveTheirSizes) {
    // First directory entry of an icon file: width and height bytes at 6 and 7.
    const Variant& v = GetParam().variant();
    ASSERT_GT(v.largeIcon.size(), 22u);
    ASSERT_GT(v.smallIcon.size(), 22u);
    EXPECT_EQ(v.largeIcon[6], GetParam().largeIconSize);
    EXPECT_EQ(v.largeIcon[7], GetParam().largeIconSize);
    EXPECT_EQ(v.smallIcon[6], 48);
    EXPECT_EQ(v.smallIcon[7], 48);
}

TEST_P(BuildTexts, PlaceholderImageFollowsItsDocumentedPattern) {
    const Variant& v = GetParam().variant();
    if (!v.placeholderImage) {
        GTEST_SKIP() << "built with a real image";
    }
    const std::string name = std::string("PLACEHOLDER") + GetParam().digit;
    for (std::uint32_t b = 0; b < v.blockCount; ++b) {
        for (std::uint32_t p = 0; p < 32; ++p) {
            const auto packet = v.image.subspan(b * 512 + p * 16, 16);
            ASSERT_EQ(std::string(packet.begin(), packet.begin() + 12), name) << b << '/' << p;
            ASSERT_EQ(packet[12], b);
            ASSERT_EQ(packet[13], p);
            ASSERT_EQ(packet[14], 0xFF ^ b);
            ASSERT_EQ(packet[15], 0xFF ^ p);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, BuildTexts, testing::ValuesIn(kBuilds),
                         [](const testing::TestParamInfo<BuildCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(AboutBox, ImageLineNamesBuildSizeChecksumAndPlaceholder) {
    const std::vector<std::uint8_t> zeros(512);
    Variant v = updater::fpga2::variant();
    v.buildName = "TEST";
    v.image = zeros;
    v.imageCrc32 = 0xB2AA7578; // the one recorded at build time is shown
    v.placeholderImage = true;
    EXPECT_EQ(updater::aboutImageLine(v), "TEST image, 512 bytes, CRC-32 B2AA7578 (placeholder)");
    v.placeholderImage = false;
    EXPECT_EQ(updater::aboutImageLine(v), "TEST image, 512 bytes, CRC-32 B2AA7578");
}

TEST(AboutBox, Crc32KnownValues) {
    const std::string check = "123456789";
    const std::vector<std::uint8_t> bytes(check.begin(), check.end());
    EXPECT_EQ(updater::crc32(bytes), 0xCBF43926u);
    EXPECT_EQ(updater::crc32({}), 0u);
    constexpr std::uint8_t kCheck[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    static_assert(updater::crc32(kCheck) == 0xCBF43926u, "the build evaluates the same function");
    // A recorded value that disagrees with the image would refuse every update.
    for (const Variant* v : {&updater::fpga1::variant(), &updater::fpga2::variant()}) {
        EXPECT_EQ(v->imageCrc32, updater::crc32(v->image)) << v->buildName;
    }
}

} // namespace
} // namespace telmar::test
