// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The control panel's form as the Win32 shell builds it: the table that make_form.py
// generates from the Designer file at build time. Plain data, so the native tests
// read the same table the program carries.
namespace telmar::win32 {

struct FormControl {
    int id = 0;
    std::string name;      // the Designer object name
    std::string className; // STATIC, BUTTON, SysTabControl32
    std::uint32_t style = 0;
    std::string parent; // centralwidget, or a page's name
    int x = 0, y = 0, width = 0, height = 0;
    int points = 0; // 0: the dialog font's size
    int weight = 0; // 0: normal
    std::string group;
    bool checked = false;
    std::string text; // UTF-8; an image label's image path
};

struct FormPage {
    int index = 0;
    std::string name;
    std::string title;
};

// One line of the form's connections: a control's clicked() or an action's
// triggered() runs a slot of the window.
struct FormConnection {
    std::string sender;
    std::string signal;
    std::string slot; // "setLogoLed()"
};

struct FormAction {
    int command = 0; // the menu item's WM_COMMAND id
    std::string name;
};

struct FormTable {
    std::string windowName;
    std::string title;
    int width = 0, height = 0, maxWidth = 0, maxHeight = 0;
    std::string fontFace;
    int fontPoints = 0;
    std::vector<FormPage> pages;
    std::vector<FormControl> controls; // in creation (and tab) order
    int statusBarId = 0;
    std::string statusBarName;
    std::vector<FormAction> actions;
    std::vector<FormConnection> connections;

    const FormControl* find(std::string_view name) const;
    const FormControl* find(int id) const;
    const FormPage* page(std::string_view name) const;
    // The slot a click on `sender` (or its menu command) runs, empty for none.
    std::string slotOf(std::string_view sender) const;
    // The action of a menu command id, empty for none.
    std::string actionOf(int command) const;
};

// Parses the table; nullopt with `error` set when a record is malformed.
std::optional<FormTable> parseFormTable(std::string_view text, std::string& error);

// The bitmap resource of an image label: ":/logo2_80.png" -> "LOGO2_80_PNG".
std::string imageResourceName(std::string_view path);

} // namespace telmar::win32
