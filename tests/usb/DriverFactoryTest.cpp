// SPDX-License-Identifier: MIT
#include "usb/DriverFactory.h"

#include "sim/SimDriver.h"
#include "usb/LibusbDriver.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
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

TEST(DriverFactory, BackendVariablePicksTheDriver) {
    struct Case {
        const char* value;
        bool sim;
        bool complaint;
    };
    const Case cases[] = {
        {nullptr, false, false},
        {"usb", false, false},
        {"sim", true, false},
        {"hardware", false, true},
    };
    for (const auto& c : cases) {
        ScopedEnv backend("TELMAR_USB_BACKEND", c.value);
        ScopedEnv ids("TELMAR_USB_IDS", nullptr);
        testing::internal::CaptureStderr();
        const auto driver = usb::createDriver();
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_NE(driver, nullptr);
        const char* name = c.value != nullptr ? c.value : "unset";
        EXPECT_EQ(dynamic_cast<sim::SimDriver*>(driver.get()) != nullptr, c.sim) << name;
        EXPECT_EQ(dynamic_cast<usb::LibusbDriver*>(driver.get()) != nullptr, !c.sim) << name;
        EXPECT_EQ(err.find("TELMAR_USB_BACKEND") != std::string::npos, c.complaint) << err;
    }
}

} // namespace
