// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace telmar::base {

// Latin-1 text (the box's, the programs' own) to UTF-16 for the Win32 wide calls: its
// bytes are the first 256 code points, so each becomes one unit as it is.
inline std::wstring widen(std::string_view latin1) {
    std::wstring wide;
    for (const char c : latin1) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

} // namespace telmar::base
