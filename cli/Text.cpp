// SPDX-License-Identifier: MIT
#include "cli/Text.h"

#include <cstdio>

namespace telmar::cli {

namespace {

void appendLatin1(std::string& out, unsigned char c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
}

} // namespace

std::string latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (const char c : latin1) {
        appendLatin1(out, static_cast<unsigned char>(c));
    }
    return out;
}

std::string latin1ForTerminal(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (const char c : latin1) {
        const auto u = static_cast<unsigned char>(c);
        appendLatin1(out, isControl(u) ? static_cast<unsigned char>('?') : u);
    }
    return out;
}

std::string_view trimRight(std::string_view text) {
    const auto end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

std::string boxLine(std::string_view text, std::string_view caption) {
    std::string line;
    appendJoined(line, ": ", latin1ToUtf8(trimRight(caption)));
    appendJoined(line, ": ", latin1ToUtf8(trimRight(text)));
    return "telmarctl: " + line;
}

void appendJoined(std::string& list, std::string_view separator, std::string_view item) {
    if (!list.empty()) {
        list += separator;
    }
    list += item;
}

std::string jsonString(std::string_view utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

void JsonObject::key(std::string_view key) {
    if (!body_.empty()) {
        body_ += ",";
    }
    body_ += jsonString(key) + ":";
}

JsonObject& JsonObject::add(std::string_view k, std::string_view utf8Value) {
    key(k);
    body_ += jsonString(utf8Value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, bool value) {
    key(k);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, long long value) {
    key(k);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    key(k);
    body_ += text;
    return *this;
}

JsonObject& JsonObject::addNull(std::string_view k) {
    key(k);
    body_ += "null";
    return *this;
}

JsonObject& JsonObject::addRaw(std::string_view k, std::string_view json) {
    key(k);
    body_ += json;
    return *this;
}

} // namespace telmar::cli
