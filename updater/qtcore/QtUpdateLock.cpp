// SPDX-License-Identifier: MIT
#include "updater/qtcore/QtUpdateLock.h"

#include <QDir>
#include <QStandardPaths>

namespace telmar::updater {

QtUpdateLock::QtUpdateLock(QString path) : file_(std::move(path)) {
    // Never stale by age: an update may run for minutes. A dead holder is noticed
    // by its process id.
    file_.setStaleLockTime(0);
}

bool QtUpdateLock::tryLock() {
    return file_.tryLock(0);
}

void QtUpdateLock::unlock() {
    file_.unlock();
}

QString QtUpdateLock::defaultPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return folder + QStringLiteral("/telmar-reflasher-update.lock");
}

} // namespace telmar::updater
