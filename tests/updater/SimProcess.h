#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace telmar::test {

// A private simulated-box daemon in its own temporary folder, stopped and removed
// when this goes. Sets TELMAR_USB_BACKEND=sim and TELMAR_SIM_SOCKET for drivers
// created afterwards in this process.
class SimProcess {
  public:
    explicit SimProcess(const QString& binary, const QStringList& serveOptions = {})
        : binary_(binary) {
        socket_ = dir_.filePath(QStringLiteral("sim.sock"));
        daemon_.setProgram(binary_);
        daemon_.setArguments(
            QStringList{QStringLiteral("serve"), QStringLiteral("--socket"), socket_} +
            serveOptions);
        daemon_.setProcessChannelMode(QProcess::MergedChannels);
        daemon_.start();
        QByteArray out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!out.contains("serving on") && std::chrono::steady_clock::now() < deadline &&
               daemon_.state() != QProcess::NotRunning) {
            daemon_.waitForReadyRead(100);
            out += daemon_.readAll();
        }
        ready_ = out.contains("serving on");
        qputenv("TELMAR_USB_BACKEND", "sim");
        qputenv("TELMAR_SIM_SOCKET", socket_.toLocal8Bit());
    }
    ~SimProcess() {
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            if (!daemon_.waitForFinished(5000)) {
                daemon_.kill();
                daemon_.waitForFinished(5000);
            }
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ready() const { return ready_; }
    qint64 pid() const { return daemon_.processId(); }

    // Runs one control command against this daemon; its standard output.
    QByteArray command(const QStringList& args) const {
        QProcess p;
        p.start(binary_, QStringList{QStringLiteral("--socket"), socket_} + args);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished(1000);
            return {};
        }
        return p.readAllStandardOutput();
    }

  private:
    QString binary_;
    QTemporaryDir dir_;
    QString socket_;
    QProcess daemon_;
    bool ready_ = false;
};

// Ends a test process that hangs, whatever it hangs in, after `limit`.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  std::fputs("watchdog: test ran out of time\n", stderr);
                  if (victim_ > 0) {
                      ::kill(static_cast<pid_t>(victim_), SIGKILL);
                  }
                  std::_Exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    // A child to kill along with the test.
    void guard(qint64 pid) {
        std::lock_guard lock(mutex_);
        victim_ = pid;
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    qint64 victim_ = 0;
    std::thread thread_;
};

} // namespace telmar::test
