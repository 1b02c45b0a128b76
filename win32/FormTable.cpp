// SPDX-License-Identifier: MIT
#include "win32/FormTable.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace telmar::win32 {

namespace {

std::vector<std::string_view> splitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(tab + 1);
    }
}

template <typename Number> bool toInt(std::string_view text, Number& out, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return error == std::errc() && end == text.data() + text.size();
}

bool toStyle(std::string_view text, std::uint32_t& out) {
    return text.substr(0, 2) == "0x" && toInt(text.substr(2), out, 16);
}

bool parseControl(const std::vector<std::string_view>& f, FormControl& c) {
    if (f.size() != 15) {
        return false;
    }
    int checked = 0;
    c.name = f[2];
    c.className = f[3];
    c.parent = f[5];
    c.group = f[12];
    c.text = f[14];
    c.checked = toInt(f[13], checked) && checked == 1;
    return toInt(f[1], c.id) && toStyle(f[4], c.style) && toInt(f[6], c.x) && toInt(f[7], c.y) &&
           toInt(f[8], c.width) && toInt(f[9], c.height) && toInt(f[10], c.points) &&
           toInt(f[11], c.weight) && (checked == 0 || checked == 1);
}

// The first of `items` that `match` takes, or nullptr.
template <typename T, typename Match> const T* firstOf(const std::vector<T>& items, Match match) {
    const auto it = std::find_if(items.begin(), items.end(), match);
    return it == items.end() ? nullptr : &*it;
}

} // namespace

const FormControl* FormTable::find(std::string_view name) const {
    return firstOf(controls, [name](const FormControl& c) { return c.name == name; });
}

const FormControl* FormTable::find(int id) const {
    return firstOf(controls, [id](const FormControl& c) { return c.id == id; });
}

const FormPage* FormTable::page(std::string_view name) const {
    return firstOf(pages, [name](const FormPage& p) { return p.name == name; });
}

std::string FormTable::slotOf(std::string_view sender) const {
    const auto* found =
        firstOf(connections, [sender](const auto& c) { return c.sender == sender; });
    return found != nullptr ? found->slot : std::string();
}

std::string FormTable::actionOf(int command) const {
    const auto* found = firstOf(actions, [command](const auto& a) { return a.command == command; });
    return found != nullptr ? found->name : std::string();
}

std::optional<FormTable> parseFormTable(std::string_view text, std::string& error) {
    FormTable table;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        const auto f = splitTabs(line);
        bool ok = false;
        if (f[0] == "window" && f.size() == 7) {
            table.windowName = f[1];
            table.title = f[6];
            ok = toInt(f[2], table.width) && toInt(f[3], table.height) &&
                 toInt(f[4], table.maxWidth) && toInt(f[5], table.maxHeight);
        } else if (f[0] == "font" && f.size() == 3) {
            table.fontFace = f[1];
            ok = toInt(f[2], table.fontPoints);
        } else if (f[0] == "page" && f.size() == 4) {
            FormPage& page =
                table.pages.emplace_back(FormPage{0, std::string(f[2]), std::string(f[3])});
            ok = toInt(f[1], page.index);
        } else if (f[0] == "control") {
            ok = parseControl(f, table.controls.emplace_back());
        } else if (f[0] == "action" && f.size() == 3) {
            ok = toInt(f[1], table.actions.emplace_back(FormAction{0, std::string(f[2])}).command);
        } else if (f[0] == "connect" && f.size() == 4) {
            table.connections.push_back({std::string(f[1]), std::string(f[2]), std::string(f[3])});
            ok = true;
        } else if (f[0] == "status" && f.size() == 3) {
            table.statusBarName = f[2];
            ok = toInt(f[1], table.statusBarId);
        }
        if (!ok) {
            error = "form table line " + std::to_string(lineNumber) + " is malformed";
            return std::nullopt;
        }
    }
    if (table.windowName.empty() || table.fontFace.empty() || table.controls.empty()) {
        error = "form table lacks its window, font or controls";
        return std::nullopt;
    }
    return table;
}

std::string imageResourceName(std::string_view path) {
    while (!path.empty() && (path.front() == ':' || path.front() == '/')) {
        path.remove_prefix(1);
    }
    std::string name;
    for (char c : path) {
        name.push_back(std::isalnum(static_cast<unsigned char>(c)) != 0
                           ? static_cast<char>(std::toupper(static_cast<unsigned char>(c)))
                           : '_');
    }
    return name;
}

} // namespace telmar::win32
