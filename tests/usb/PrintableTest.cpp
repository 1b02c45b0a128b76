// SPDX-License-Identifier: MIT
#include "base/Printable.h"

#include "usb/UsbIdList.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace telmar::base;
using namespace telmar::usb;

TEST(Printable, EscapesControlsAndCutsLongValues) {
    struct Case {
        std::string in;
        std::size_t max;
        std::string out;
    };
    const Case cases[] = {
        {"sim", 80, "sim"},
        {"\x1b[2J\x07", 80, "\\x1b[2J\\x07"},
        {"a\"b\\c", 80, "a\\\"b\\\\c"},
        {std::string("x\0y\n\xff", 5), 80, "x\\x00y\\x0a\\xff"},
        {"abcdef", 3, "abc... (6 bytes)"},
        {"", 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printable(c.in, c.max), c.out) << c.out;
    }
}

TEST(Printable, AHostileIdListIsEchoedAsOneShortPrintableLine) {
    const std::string hostile = "\x1b]0;owned\x07" + std::string(120 * 1024, 'A') + "\n";
    std::ostringstream err;
    EXPECT_EQ(usbIdsFromEnvironment(hostile.c_str(), err), std::vector<UsbId>{kDefaultUsbId});
    const std::string said = err.str();
    EXPECT_LT(said.size(), 400u);
    EXPECT_EQ(said.find('\n'), said.size() - 1);
    EXPECT_EQ(said.find('\x1b'), std::string::npos);
    EXPECT_NE(said.find("\\x1b]0;owned\\x07AAA"), std::string::npos) << said;
    EXPECT_NE(said.find("(122891 bytes)"), std::string::npos) << said;
}

} // namespace
