// SPDX-License-Identifier: MIT
#include "updater/qtcore/LogindInhibitor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <iostream>
#include <unistd.h>

namespace telmar::updater {

namespace {
constexpr int kCallTimeoutMs = 5000;

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
} // namespace

LogindInhibitor::LogindInhibitor(QDBusConnection bus)
    : LogindInhibitor(std::move(bus), std::cerr) {}

LogindInhibitor::LogindInhibitor(QDBusConnection bus, std::ostream& err)
    : bus_(std::move(bus)), err_(err) {}

LogindInhibitor::~LogindInhibitor() {
    end();
}

void LogindInhibitor::begin(std::string_view reason) {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        return;
    }
    QString error;
    if (!bus_.isConnected()) {
        error = QStringLiteral("no system bus");
    } else {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:shutdown:idle") << toQString(kWriteGuardWho)
             << toQString(reason) << QStringLiteral("block");
        const QDBusReply<QDBusUnixFileDescriptor> reply =
            bus_.call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.isValid() && reply.value().isValid()) {
            // The reply's descriptor is closed with it; the lock lives as long as our copy.
            fd_ = ::dup(reply.value().fileDescriptor());
        } else {
            error = reply.error().message();
        }
    }
    if (fd_ < 0 && !warned_) {
        warned_ = true;
        err_ << QCoreApplication::applicationName().toStdString()
             << ": cannot keep the system from sleeping or shutting down during the write ("
             << error.toStdString() << "); going on without it" << std::endl;
    }
}

void LogindInhibitor::end() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool LogindInhibitor::held() const {
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

} // namespace telmar::updater
