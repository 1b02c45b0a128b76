// SPDX-License-Identifier: MIT
#include "backends/BackendChoice.h"
#include "backends/DriverFactory.h"
#include "backends/NoBoxDriver.h"
#include "usb/LibusbDriver.h"

#if TELMAR_WITH_SIM
#include "sim/SimDriver.h"
#endif

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>

namespace {

using namespace telmar;

// Sets a variable for one scope and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(BackendChoice, KnownNamesAndTheDefault) {
    struct Case {
        const char* value;
        std::string_view backend;
        bool complaint;
    };
    const Case cases[] = {
        {nullptr, "usb", false}, {"", "usb", false},
        {"usb", "usb", false},   {"sim", "sim", false},
        {"SIM", "", true},       {"simulator", "", true},
        {" sim", "", true},      {"\x1b]0;owned\x07\nsim", "", true}, // echoed escaped
    };
    for (const auto& c : cases) {
        std::ostringstream err;
        const backends::BackendEntry* entry = backends::chooseBackend(c.value, err);
        EXPECT_EQ(entry ? entry->name : "", c.backend) << (c.value ? c.value : "unset");
        EXPECT_EQ(std::ranges::count(err.str(), '\n'), c.complaint ? 1 : 0) << err.str();
        EXPECT_EQ(err.str().find('\x1b'), std::string::npos);
        if (c.complaint) {
            EXPECT_NE(err.str().find("TELMAR_USB_BACKEND"), std::string::npos);
        }
    }
}

// What each value of the variable gives a program: the driver kind and whether it
// complained. An unknown name gives no driver at all, never the real box.
TEST(DriverFactory, BackendVariablePicksTheDriver) {
    enum class Kind { Usb, Sim, NoBox, None };
    struct Case {
        const char* value;
        Kind kind;
        bool complaint;
    };
    const Case cases[] = {
        {nullptr, Kind::Usb, false},
        {"usb", Kind::Usb, false},
#if TELMAR_WITH_SIM
        {"sim", Kind::Sim, false},
#else
        {"sim", Kind::NoBox, true},
#endif
        {"hardware", Kind::None, true},
    };
    for (const auto& c : cases) {
        ScopedEnv backend("TELMAR_USB_BACKEND", c.value);
        ScopedEnv ids("TELMAR_USB_IDS", nullptr);
        testing::internal::CaptureStderr();
        const auto driver = backends::createDriver();
        const std::string err = testing::internal::GetCapturedStderr();
        const char* name = c.value != nullptr ? c.value : "unset";
        EXPECT_EQ(backends::backendVariableProblem().empty(), c.kind != Kind::None) << name;
        if (c.kind == Kind::None) {
            EXPECT_EQ(driver, nullptr) << name;
            EXPECT_EQ(std::ranges::count(err, '\n'), 1) << err;
            continue;
        }
        ASSERT_NE(driver, nullptr);
        Kind kind = Kind::NoBox;
        if (dynamic_cast<usb::LibusbDriver*>(driver.get()) != nullptr) {
            kind = Kind::Usb;
        }
#if TELMAR_WITH_SIM
        if (dynamic_cast<sim::SimDriver*>(driver.get()) != nullptr) {
            kind = Kind::Sim;
        }
#endif
        EXPECT_EQ(kind, c.kind) << name;
        EXPECT_EQ(err.find("TELMAR_USB_BACKEND") != std::string::npos, c.complaint) << err;
        if (kind == Kind::NoBox) {
            std::uint32_t count = 99;
            EXPECT_EQ(driver->getNumDevices(count), usb::kSuccess);
            EXPECT_EQ(count, 0u) << "a backend left out of the build finds no box";
        }
    }
}

} // namespace
