// SPDX-License-Identifier: MIT
#pragma once

#include "updater/Safeguards.h"

#include <QDBusConnection>
#include <iosfwd>
#include <mutex>

namespace telmar::updater {

// A logind inhibitor lock (sleep, shutdown and idle; mode block) held while the
// image is written. Without a system bus or logind the write goes on unguarded,
// and that is said once on `err`.
class LogindInhibitor final : public WriteGuard {
  public:
    explicit LogindInhibitor(QDBusConnection bus = QDBusConnection::systemBus());
    LogindInhibitor(QDBusConnection bus, std::ostream& err);
    ~LogindInhibitor() override;

    void begin(std::string_view reason) override;
    void end() override;

    bool held() const;

  private:
    QDBusConnection bus_;
    std::ostream& err_;
    mutable std::mutex mutex_;
    int fd_ = -1;
    bool warned_ = false;
};

} // namespace telmar::updater
