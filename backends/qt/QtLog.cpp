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

class QtLogSink final : public usb::LogSink {
  public:
    bool enabled(usb::LogArea area) const override { return logCategory(area).isDebugEnabled(); }
    void write(usb::LogArea area, std::string_view message) override {
        // Device strings are 8-bit; the rest is ASCII.
        qCDebug(logCategory(area)).noquote()
            << QString::fromLatin1(message.data(), static_cast<qsizetype>(message.size()));
    }
};

} // namespace

const QLoggingCategory& logCategory(usb::LogArea area) {
    switch (area) {
    case usb::LogArea::Usb:
        return usbCategory();
    case usb::LogArea::Link:
        return linkCategory();
    case usb::LogArea::Backend:
        return backendCategory();
    case usb::LogArea::Updater:
        return updaterCategory();
    case usb::LogArea::Panel:
        return panelCategory();
    }
    return backendCategory();
}

void installQtLog() {
    static QtLogSink sink;
    if (usb::debugRequested(std::getenv(usb::kDebugVariable))) {
        QLoggingCategory::setFilterRules(QStringLiteral("telmar.*.debug=true"));
    }
    if (std::getenv("QT_MESSAGE_PATTERN") == nullptr) {
        qSetMessagePattern(QStringLiteral("%{time hh:mm:ss.zzz} %{category}: %{message}"));
    }
    usb::setLogSink(&sink);
}

} // namespace telmar::backends
