#include "SingleInstance.h"
#include "TestEnvironment.h"
#include "TunnelRecord.h"

#include <QApplication>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>

#include <fcntl.h>
#include <unistd.h>

// Run through tests/support/with-own-home --long: the lock lives in the home that the password
// database names, here a scratch one whose path is too long for a socket address.
namespace {
using Environment = QList<std::pair<QString, QString>>;

// Runs the real application, with the environment changed as given ("" removes a variable), to
// its end: its exit status (-1 when it did not end) and what it said on stderr.
std::pair<int, QByteArray> runApp(const Environment &changes,
                                  const QStringList &arguments = QStringList()) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : changes)
        value.isEmpty() ? environment.remove(name) : environment.insert(name, value);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(ZENTREL_APP_PATH), arguments);
    const bool ended = process.waitForFinished(10000);
    return {ended ? process.exitCode() : -1, process.readAllStandardError()};
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

public:
    explicit SingleInstanceTest(TestEnvironment &) {}

private slots:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("ZENTREL_OWN_HOME"),
                 "run through tests/support/with-own-home, never in the user's own home");
        QVERIFY(m_folder.size() > 108);
    }

    void secondInstanceWakesTheFirst() {
        SingleInstance first(QStringLiteral("zentrel-test"));
        QCOMPARE(first.becomePrimary(), SingleInstance::Start::Primary);
        QSignalSpy activations(&first, &SingleInstance::activationRequested);

        // A client that says nothing is not kept waiting for.
        const int folder = open(QFile::encodeName(m_folder).constData(), O_PATH | O_DIRECTORY);
        QVERIFY(folder >= 0);
        QLocalSocket idle;
        idle.connectToServer(QStringLiteral("/proc/self/fd/%1/zentrel-test.socket").arg(folder));
        QVERIFY(idle.waitForConnected(1000));
        close(folder);
        QSignalSpy hungUp(&idle, &QLocalSocket::disconnected);
        QVERIFY(hungUp.wait(4000));

        SingleInstance second(QStringLiteral("zentrel-test"));
        QCOMPARE(second.becomePrimary(), SingleInstance::Start::AlreadyRunning);
        QVERIFY(second.activatePrimary());
        QVERIFY(activations.wait(5000));

        // A different application name is not in the way, nor what a crash left of it: a lock
        // file and a dead socket file.
        const char *leftovers =
            "echo 999999 > \"$F/zentrel-other.lock\"; : > \"$F/zentrel-other.socket\"";
        QVERIFY(shell(leftovers) == 0);
        SingleInstance other(QStringLiteral("zentrel-other"));
        QCOMPARE(other.becomePrimary(), SingleInstance::Start::Primary);
        QVERIFY(SingleInstance(QStringLiteral("zentrel-other")).activatePrimary());
    }

    void oneInstanceWhateverTheEnvironment() {
        // One start from a session (with-own-home gives it a runtime folder), one as cron or
        // `env -i` starts it: no runtime folder, and another idea of home.
        QVERIFY(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"));
        QProcess first;
        first.start(QStringLiteral(ZENTREL_APP_PATH));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_folder + QStringLiteral("/zentrel-vpn.socket")),
                                 15000);
        const QString elsewhere =
            qEnvironmentVariable("ZENTREL_OWN_HOME") + QStringLiteral("/elsewhere");
        const Environment bare = {{QStringLiteral("XDG_RUNTIME_DIR"), QString()},
                                  {QStringLiteral("HOME"), elsewhere},
                                  {QStringLiteral("XDG_STATE_HOME"), elsewhere},
                                  {QStringLiteral("XDG_CACHE_HOME"), elsewhere}};
        // It ends at once (a primary would run on) and with success: the first took its call.
        QCOMPARE(runApp(bare).first, 0);
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(QFile::permissions(m_folder) & 0x0777,
                 QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);

        // What stands in the way is named, and the start fails. Only root can give a file to
        // another user: the tests run as root.
        const QString lock = m_folder + QStringLiteral("/zentrel-vpn.lock");
        QVERIFY(QFile::remove(lock));
        using Obstacle = std::tuple<const char *, const char *, QString>; // make, undo, named
        for (const auto &[make, undo, named] :
             {Obstacle{"mkdir \"$L\"", "rmdir \"$L\"", lock},
              {"ln -s \"$L.elsewhere\" \"$L\"", "rm \"$L\"", lock},
              {"chmod o+w \"$F\"", "chmod 700 \"$F\"", m_folder},
              {"chown 65534:65534 \"$F\"", "chown \"$(id -u):$(id -g)\" \"$F\"", m_folder},
              {"touch \"$L\" && chown 65534:65534 \"$L\"", "rm \"$L\"", lock}}) {
            QVERIFY2(shell(make) == 0, make);
            const auto [status, errors] = runApp(bare);
            QCOMPARE(status, 1);
            QVERIFY2(errors.contains("cannot start") && errors.contains(QFile::encodeName(named)),
                     errors.constData());
            QVERIFY2(shell(undo) == 0, undo);
        }
    }

    void theLoginCheckLeavesARunningInstanceAlone() {
        // A record of a proxy switched on that names no ssh yet, as in the middle of a connect
        // or between two runs of ssh: the check would switch it off and forget it.
        qputenv("GSETTINGS_BACKEND", "keyfile");
        const TunnelRecordFile records;
        QString error;
        QVERIFY2(records.save({"Wi-Fi", true, 1080, "demo", "vpn.example.org", {}, "default", {}},
                              error),
                 qPrintable(error));
        const QByteArray recorded = TestEnvironment::readFile(records.path());
        SingleInstance running;
        QCOMPARE(running.becomePrimary(), SingleInstance::Start::Primary);
        const auto [status, errors] = runApp({}, {QStringLiteral("--restore-proxy")});
        QCOMPARE(status, 0);
        QVERIFY2(errors.contains("is running"), errors.constData());
        QCOMPARE(TestEnvironment::readFile(records.path()), recorded);
    }

private:
    // Runs a shell line with $F the lock's folder and $L the lock.
    int shell(const char *line) const {
        return QProcess::execute(
            QStringLiteral("sh"),
            {QStringLiteral("-c"),
             QStringLiteral("F=$1 L=$1/zentrel-vpn.lock; ") + QLatin1String(line),
             QStringLiteral("sh"), m_folder});
    }

    const QString m_folder = SingleInstance::defaultFolder();
};

ZENTREL_TEST_MAIN(SingleInstanceTest, QApplication)
#include "tst_singleinstance.moc"
