// SPDX-License-Identifier: MIT
#include "backends/qt/QtLog.h"

#include <QtCore/QString>
#include <cstdlib>

namespace telmar::backends {

namespace {

Q_LOGGING_CATEGORY(usbCategory, "telmar.usb", QtInfoMsg)
Q_LOGGING_CATEGORY(linkCategory, "telmar.link", QtInfoMsg)
Q_LOGGING_CATEGORY(backendCategory, "telmar.backend", QtInfoMsg)
Q_LOGGING_CATEGORY(updaterCategory, "telmar.updater", QtInfoMsg)
Q_LOGGING_CATEGORY(panelCategory, "telmar.panel", QtInfoMsg)

class QtLogSink final : public base::LogSink {
  public:
    bool enabled(base::LogArea area) const override { return logCategory(area).isDebugEnabled(); }
    void write(base::LogArea area, std::string_view message) override {
        // Device strings are 8-bit; the rest is ASCII.
        qCDebug(logCategory(area)).noquote()
            << QString::fromLatin1(message.data(), static_cast<qsizetype>(message.size()));
    }
};

} // namespace

const QLoggingCategory& logCategory(base::LogArea area) {
    // By LogArea, in its order.
    const QLoggingCategory& (*const categories[base::kLogAreaCount])() = {
        usbCategory, linkCategory, backendCategory, updaterCategory, panelCategory};
    const auto i = static_cast<std::size_t>(area);
    return i < base::kLogAreaCount ? categories[i]() : backendCategory();
}

void installQtLog() {
    static QtLogSink sink;
    if (base::debugRequested(std::getenv(base::kDebugVariable))) {
        QLoggingCategory::setFilterRules(QStringLiteral("telmar.*.debug=true"));
    }
    if (std::getenv("QT_MESSAGE_PATTERN") == nullptr) {
        qSetMessagePattern(QStringLiteral("%{time hh:mm:ss.zzz} %{category}: %{message}"));
    }
    base::setLogSink(&sink);
}

} // namespace telmar::backends
