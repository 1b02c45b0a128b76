// SPDX-License-Identifier: MIT
#include "backends/qt/QtLog.h"

#include <QtCore/QString>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace telmar;

std::vector<std::string> caught;

void catchMessage(QtMsgType, const QMessageLogContext& context, const QString& message) {
    caught.push_back(std::string(context.category) + " " + message.toStdString());
}

TEST(QtLog, OffByDefaultThenEveryAreaUnderItsCategory) {
    ::unsetenv("TELMAR_DEBUG");
    ::unsetenv("QT_LOGGING_RULES");
    qInstallMessageHandler(catchMessage);
    backends::installQtLog();
    TELMAR_LOG(base::LogArea::Usb, "not shown");
    EXPECT_TRUE(caught.empty());

    ::setenv("TELMAR_DEBUG", "1", 1);
    backends::installQtLog();
    ::unsetenv("TELMAR_DEBUG");
    const std::pair<base::LogArea, const char*> areas[] = {
        {base::LogArea::Usb, "telmar.usb"},         {base::LogArea::Link, "telmar.link"},
        {base::LogArea::Backend, "telmar.backend"}, {base::LogArea::Updater, "telmar.updater"},
        {base::LogArea::Panel, "telmar.panel"},
    };
    for (const auto& [area, category] : areas) {
        caught.clear();
        TELMAR_LOG(area, "serial \"2031\" caf\xE9");
        ASSERT_EQ(caught.size(), 1u) << category;
        EXPECT_EQ(caught[0], std::string(category) + " serial \"2031\" caf\xC3\xA9");
    }
    base::setLogSink(nullptr);
    qInstallMessageHandler(nullptr);
}

} // namespace
