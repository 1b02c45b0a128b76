// SPDX-License-Identifier: MIT
#include "cli/Text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace telmar::cli {

namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
}

} // namespace

std::string latin1ForTerminal(std::string_view latin1) {
    std::string shown(latin1);
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return isControl(static_cast<unsigned char>(c)); },
        '?');
    return latin1ToUtf8(shown);
}

std::string_view trimRight(std::string_view text) {
    const auto end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

std::string boxLine(std::string_view text, std::string_view caption) {
    std::string line;
    appendJoined(line, ": ", latin1ForTerminal(trimRight(caption)));
    appendJoined(line, ": ", latin1ForTerminal(trimRight(text)));
    return "telmarctl: " + line;
}

void appendJoined(std::string& list, std::string_view separator, std::string_view item) {
    if (!list.empty()) {
        list += separator;
    }
    list += item;
}

std::string jsonLine(const JsonValue& value) {
    return value.dump(-1, ' ', false, JsonValue::error_handler_t::replace);
}

std::string isoTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto whole = floor<seconds>(time);
    const auto ms = floor<milliseconds>(time) - whole;
    const std::time_t t = system_clock::to_time_t(whole);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms.count()));
    return text;
}

} // namespace telmar::cli
