// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace telmar::usb {

// What every Windows program says when the vendor's USB library cannot be loaded:
// the file, and where to put it. `program` starts the second sentence ("The updater").
inline std::string missingLibraryText(std::wstring_view libraryName, std::string_view program) {
    std::string name;
    for (const wchar_t c : libraryName) {
        name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return name + " could not be loaded.\n" + std::string(program) +
           " reaches the TELMAR box only through " + name +
           ", the USB library of the box's maker. Put " + name +
           " in the same folder as this program, then start the program again.";
}

} // namespace telmar::usb
