// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace telmar::base {

// The box's texts and the programs' 8-bit texts are Latin-1, whose bytes are the first
// 256 code points: each becomes one UTF-16 unit as it is (for the Win32 wide calls).
inline std::wstring fromLatin1(std::string_view text) {
    std::wstring wide;
    for (const char c : text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

} // namespace telmar::base
