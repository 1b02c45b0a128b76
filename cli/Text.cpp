// SPDX-License-Identifier: MIT
#include "cli/Text.h"

#include <algorithm>

namespace telmar::cli {

std::string latin1ForTerminal(std::string_view latin1) {
    return latin1ToUtf8(base::printableLatin1(latin1));
}

std::string_view trimRight(std::string_view text) {
    const auto end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

std::string boxLine(std::string_view text, std::string_view caption) {
    std::string line;
    appendJoined(line, ": ", latin1ForTerminal(trimRight(caption)));
    // A box's own line breaks stay lines; any other control byte in it is shown as '?'.
    std::string lines;
    for (std::string_view rest = trimRight(text); !rest.empty();) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        appendJoined(lines, "\n", latin1ForTerminal(rest.substr(0, end)));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    appendJoined(line, ": ", lines);
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

} // namespace telmar::cli
