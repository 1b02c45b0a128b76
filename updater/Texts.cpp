// SPDX-License-Identifier: MIT
#include "updater/Texts.h"

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
                  variant.image.size(), static_cast<unsigned>(variant.imageCrc32),
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

} // namespace telmar::updater
