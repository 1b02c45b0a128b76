// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QSocketNotifier;

namespace telmar::updater {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the thread that made this
// object, instead of ending the process wherever it stands. One per process.
class TerminationSignals final : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    bool installed() const { return notifier_ != nullptr; }

  signals:
    void requested(int signalNumber);

  private:
    void readPipe();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace telmar::updater
