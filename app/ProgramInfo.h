// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

#ifndef TELMAR_VERSION
#error "link the telmar_app target: it carries the project's version"
#endif

namespace telmar::app {

inline constexpr std::string_view kVersion = TELMAR_VERSION;

enum class InfoOption { None, Version, Help };

template <typename Char> bool sameAscii(const Char* arg, std::string_view text) {
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        if (arg[i] != static_cast<Char>(text[i])) {
            return false;
        }
    }
    return arg[i] == Char{};
}

// --version or --help (-h) anywhere before "--". Answered before a window, a device
// or Qt is touched, so it works without a display; other arguments stay the program's.
template <typename Char> InfoOption findInfoOption(int argc, const Char* const* argv) {
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        if (sameAscii(argv[i], "--")) {
            break;
        }
        if (sameAscii(argv[i], "--version")) {
            return InfoOption::Version;
        }
        if (sameAscii(argv[i], "--help") || sameAscii(argv[i], "-h")) {
            return InfoOption::Help;
        }
    }
    return InfoOption::None;
}

inline std::string versionLine(std::string_view program) {
    return std::string(program) + " " + std::string(kVersion) + "\n";
}

// `usage` is the program's own text; the version line follows it.
inline std::string infoText(InfoOption option, std::string_view program, std::string_view usage) {
    if (option == InfoOption::Help) {
        return std::string(usage) + "\n" + versionLine(program);
    }
    return option == InfoOption::Version ? versionLine(program) : std::string();
}

} // namespace telmar::app
