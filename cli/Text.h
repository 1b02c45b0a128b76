// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace telmar::cli {

// The box's texts are Latin-1 (a source name comes byte for byte from the source);
// terminals and JSON get UTF-8.
std::string latin1ToUtf8(std::string_view latin1);

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

// A JSON string literal, quotes included, of UTF-8 text.
std::string jsonString(std::string_view utf8);

// Builds one JSON object, members in the order added.
class JsonObject {
  public:
    JsonObject& add(std::string_view key, std::string_view utf8Value);
    JsonObject& add(std::string_view key, const char* utf8Value) {
        return add(key, std::string_view(utf8Value));
    }
    JsonObject& add(std::string_view key, bool value);
    JsonObject& add(std::string_view key, long long value);
    JsonObject& add(std::string_view key, int value) {
        return add(key, static_cast<long long>(value));
    }
    JsonObject& add(std::string_view key, double value);
    JsonObject& addNull(std::string_view key);
    // `json` must be a complete JSON value (an object or array built elsewhere).
    JsonObject& addRaw(std::string_view key, std::string_view json);

    std::string str() const { return "{" + body_ + "}"; }

  private:
    void key(std::string_view key);
    std::string body_;
};

} // namespace telmar::cli
