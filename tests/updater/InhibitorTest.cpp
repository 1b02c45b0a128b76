// SPDX-License-Identifier: MIT
// The logind inhibitor against a private D-Bus daemon that plays logind.
#include "tests/support/TempFolder.h"
#include "updater/qtcore/LogindInhibitor.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace telmar;

// logind's Manager, as much of it as the inhibitor uses: Inhibit hands out one end
// of a pipe; the other end tells the test when the lock is given back.
class FakeLogin : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
  public:
    ~FakeLogin() override {
        if (readEnd >= 0) {
            ::close(readEnd);
        }
    }
    QStringList arguments;
    int readEnd = -1;

    // The lock is held while a write end of the pipe is open anywhere.
    bool lockHeld() const {
        pollfd p{readEnd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    }

  public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        arguments = {what, who, why, mode};
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return {};
        }
        readEnd = fds[0];
        QDBusUnixFileDescriptor handedOut(fds[1]); // keeps a copy of its own
        ::close(fds[1]);
        return handedOut;
    }
};

class InhibitorTest : public QObject {
    Q_OBJECT
  private:
    // begin() blocks on the bus while this thread serves the fake logind.
    static void beginOffThread(updater::LogindInhibitor& inhibitor) {
        std::atomic<bool> done{false};
        std::thread caller([&] {
            inhibitor.begin("writing the test image");
            done = true;
        });
        for (int i = 0; i < 1000 && !done; ++i) {
            QTest::qWait(5);
        }
        caller.join();
    }

  private slots:
    void heldAroundTheWriteAndGivenBack() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            QSKIP("dbus-daemon is not installed");
        }
        test::TempFolder folder;
        QVERIFY(folder.ok());
        QProcess bus;
        bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--print-address=1"),
                           QStringLiteral("--address=unix:path=") +
                               QString::fromStdString(folder.file("bus"))});
        QVERIFY(bus.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();

        std::ostringstream err;
        QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
        QVERIFY(client.isConnected());
        {
            // A bus without logind: the write goes on, and that is said once.
            updater::LogindInhibitor inhibitor(client, err);
            beginOffThread(inhibitor);
            QVERIFY(!inhibitor.held());
            inhibitor.end();
            beginOffThread(inhibitor);
            inhibitor.end();
            const std::string said = err.str();
            QCOMPARE(std::count(said.begin(), said.end(), '\n'), 1);
            QVERIFY(said.find("going on without it") != std::string::npos);
        }

        FakeLogin login;
        QDBusConnection server = QDBusConnection::connectToBus(address, QStringLiteral("server"));
        QVERIFY(server.registerService(QStringLiteral("org.freedesktop.login1")));
        QVERIFY(server.registerObject(QStringLiteral("/org/freedesktop/login1"), &login,
                                      QDBusConnection::ExportAllSlots));
        err.str({});
        {
            updater::LogindInhibitor inhibitor(client, err);
            beginOffThread(inhibitor);
            QVERIFY(inhibitor.held());
            QCOMPARE(login.arguments,
                     QStringList(
                         {QStringLiteral("sleep:shutdown:idle"), QStringLiteral("TELMAR Reflasher"),
                          QStringLiteral("writing the test image"), QStringLiteral("block")}));
            QTRY_VERIFY(login.lockHeld());
            inhibitor.end();
            QVERIFY(!inhibitor.held());
            QVERIFY(!login.lockHeld());
        }
        QVERIFY(err.str().empty());
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
        bus.kill();
        bus.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(InhibitorTest)
#include "InhibitorTest.moc"
