// SPDX-License-Identifier: MIT
#include "usb/UsbIdList.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace telmar::usb;

TEST(UsbIdList, AcceptsWellFormedLists) {
    struct Case {
        const char* text;
        std::vector<UsbId> ids;
    };
    const Case cases[] = {
        {"10c4:ea61", {{0x10C4, 0xEA61}}},
        {"10c4:ea61,1234:5678", {{0x10C4, 0xEA61}, {0x1234, 0x5678}}},
        {"10C4:EA61", {{0x10C4, 0xEA61}}},
        {" 10c4:ea61 , 1:2 ", {{0x10C4, 0xEA61}, {0x0001, 0x0002}}},
        {"10c4:ea61,10C4:EA61", {{0x10C4, 0xEA61}}}, // kept once
        {"ffff:0", {{0xFFFF, 0x0000}}},
    };
    for (const auto& c : cases) {
        const auto ids = parseUsbIdList(c.text);
        ASSERT_TRUE(ids.has_value()) << c.text;
        EXPECT_EQ(*ids, c.ids) << c.text;
    }
}

TEST(UsbIdList, RejectsMalformedLists) {
    for (const char* text :
         {"", "10c4", "10c4:", ":ea61", "10c4:ea61,", ",10c4:ea61", "10c4:ea61,,1234:5678",
          "10c4;ea61", "10c4:ea61:1", "0x10c4:ea61", "10c45:ea61", "10c4:ea6g", "-1:ea61",
          "+10c4:ea61", "10 c4:ea61", "10c4:ea61 1234:5678"}) {
        EXPECT_FALSE(parseUsbIdList(text).has_value()) << '"' << text << '"';
    }
}

TEST(UsbIdList, EnvironmentFallsBackToTheDefaultWithOneLine) {
    struct Case {
        const char* value;
        std::vector<UsbId> ids;
        bool complaint;
    };
    const Case cases[] = {
        {nullptr, {kDefaultUsbId}, false},        {"", {kDefaultUsbId}, false},
        {"1234:5678", {{0x1234, 0x5678}}, false}, {"1234:5678,", {kDefaultUsbId}, true},
        {"garbage", {kDefaultUsbId}, true},
    };
    for (const auto& c : cases) {
        std::ostringstream err;
        EXPECT_EQ(usbIdsFromEnvironment(c.value, err), c.ids) << (c.value ? c.value : "unset");
        if (c.complaint) {
            EXPECT_EQ(std::ranges::count(err.str(), '\n'), 1);
            EXPECT_NE(err.str().find("TELMAR_USB_IDS"), std::string::npos);
            EXPECT_NE(err.str().find(c.value), std::string::npos) << "names the bad value";
            EXPECT_NE(err.str().find("10c4:ea61"), std::string::npos) << "names the default";
        } else {
            EXPECT_EQ(err.str(), "");
        }
    }
}

} // namespace
