// SPDX-License-Identifier: MIT
#include "updater/Safeguards.h"

#include "updater/Crc32.h"
#include "usb/MissingLibrary.h"

namespace telmar::updater {

std::string missingLibraryText(std::wstring_view libraryName) {
    return usb::missingLibraryText(libraryName, "The updater");
}

std::string refusalBeforeFirstFrame(const Variant& variant, const usb::Driver& driver) {
    if (crc32(variant.image) != variant.imageCrc32) {
        return std::string(kImageDamagedText);
    }
    if (variant.placeholderImage && !driver.simulatedBox()) {
        const std::string build(variant.buildName);
        return "This program carries a placeholder image, not TELMAR firmware.\n"
               "It writes only to a simulated box and has sent nothing: the placeholder would "
               "leave a real box unusable.\n"
               "To update a real box, build the updater with the real image: cmake -DTELMAR_" +
               build + "_IMAGE=/path/to/image.bin (see the README, \"Flash images\").";
    }
    return {};
}

} // namespace telmar::updater
