// SPDX-License-Identifier: MIT
#pragma once

#include "base/Printable.h"

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace telmar::cli {

// The box's texts are Latin-1 (a source name comes byte for byte from the source);
// terminals and JSON get UTF-8.
using base::latin1ToUtf8;

// For a terminal: as latin1ToUtf8, with every control character (C0, DEL, C1) shown
// as '?', so bytes a source sends cannot drive the terminal.
std::string latin1ForTerminal(std::string_view latin1);

// The text without its trailing blanks (the updater pads its lines to cover longer ones).
std::string_view trimRight(std::string_view text);

// A warning box as one line for standard error: "telmarctl: CAPTION: TEXT", blank
// parts left out. Latin-1 in, UTF-8 out.
std::string boxLine(std::string_view text, std::string_view caption);

// Appends `item` to `list`, after `separator` unless the list is still empty.
void appendJoined(std::string& list, std::string_view separator, std::string_view item);

using JsonValue = nlohmann::ordered_json;

// One JSON value as one line of UTF-8, members in the order added; a byte that is not
// UTF-8 is replaced by U+FFFD, so the output always is.
std::string jsonLine(const JsonValue& value);

// The first of `items` that `matches`, or nullptr.
template <typename Items, typename Matches> auto* findIn(const Items& items, Matches matches) {
    const auto it = std::find_if(items.begin(), items.end(), matches);
    return it == items.end() ? nullptr : &*it;
}

// The `word` of each of `items`, as "on|off" with the separator "|".
template <typename Items, typename Word = std::identity>
std::string joined(const Items& items, std::string_view separator, Word word = {}) {
    std::string list;
    for (const auto& item : items) {
        appendJoined(list, separator, std::invoke(word, item));
    }
    return list;
}

} // namespace telmar::cli
