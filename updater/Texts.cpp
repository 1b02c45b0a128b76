// SPDX-License-Identifier: MIT
#include "updater/Texts.h"

#include <array>
#include <cstdio>

namespace telmar::updater {

void drawGreeting(link::LineSink& lines, const Variant& variant) {
    lines.drawStatusLine(variant.titleLine, kFirstLineY);
    lines.drawStatusLine(variant.versionLine, kSecondLineY);
    lines.drawStatusLine(kConnectLine, kThirdLineY);
    lines.drawStatusLine(kCloseOtherLine, kFourthLineY);
}

std::string aboutImageLine(const Variant& variant) {
    char text[128];
    std::snprintf(text, sizeof text, "%.*s image, %zu bytes, CRC-32 %08X%s",
                  static_cast<int>(variant.buildName.size()), variant.buildName.data(),
                  variant.image.size(), static_cast<unsigned>(crc32(variant.image)),
                  variant.placeholderImage ? " (placeholder)" : "");
    return text;
}

std::string programName(const Variant& variant) {
    return "Reflasher-" + std::string(variant.buildName);
}

std::string usageText(const Variant& variant) {
    return "usage: " + programName(variant) +
           " [--version] [--help]\n"
           "\n"
           "The TELMAR firmware updater: Update > Update Firmware writes the flash image\n"
           "inside this program to the box, then leaves programming mode and resets the box.\n"
           "Do not disconnect the box while the image is written.\n"
           "\n" +
           aboutImageLine(variant) + "\n";
}

namespace {
constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}
constexpr auto kCrcTable = makeCrcTable();
} // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::uint8_t b : bytes) {
        c = kCrcTable[(c ^ b) & 0xFFu] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

} // namespace telmar::updater
