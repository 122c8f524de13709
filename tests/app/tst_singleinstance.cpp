#include "SettingsKeys.h"
#include "SingleInstance.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>

#include <unistd.h>

namespace {
using Environment = QList<std::pair<QString, QString>>;

// Starts the real application with the environment changed as given ("" removes a variable).
void startApp(QProcess &process, const Environment &changes) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : changes)
        value.isEmpty() ? environment.remove(name) : environment.insert(name, value);
    process.setProcessEnvironment(environment);
    process.setProgram(QStringLiteral(ZENTREL_APP_PATH));
    process.start();
}

// Runs it to its end: its exit status (-1 when it did not end) and what it said on stderr.
std::pair<int, QByteArray> runApp(const Environment &changes) {
    QProcess process;
    startApp(process, changes);
    const bool ended = process.waitForFinished(10000);
    return {ended ? process.exitCode() : -1, process.readAllStandardError()};
}

void writeFile(const QString &path, const QByteArray &contents) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}
} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

public:
    explicit SingleInstanceTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void initTestCase() {
        QDir().mkpath(m_environment.path(QStringLiteral("run")));
        QFile::setPermissions(m_environment.path(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_environment.path(QStringLiteral("run"))));
    }

    void secondInstanceWakesTheFirst() {
        SingleInstance first(QStringLiteral("zentrel-test"));
        QCOMPARE(first.becomePrimary(), SingleInstance::Start::Primary);
        QSignalSpy activations(&first, &SingleInstance::activationRequested);

        // A client that says nothing is not kept waiting for.
        QLocalSocket idle;
        idle.connectToServer(m_environment.path(QStringLiteral("run/zentrel-test.socket")));
        QVERIFY(idle.waitForConnected(1000));
        QSignalSpy hungUp(&idle, &QLocalSocket::disconnected);
        QVERIFY(hungUp.wait(4000));

        SingleInstance second(QStringLiteral("zentrel-test"));
        QCOMPARE(second.becomePrimary(), SingleInstance::Start::AlreadyRunning);
        QVERIFY(second.activatePrimary());
        QVERIFY(activations.wait(5000));

        // A different application name is not in the way.
        SingleInstance other(QStringLiteral("zentrel-other"));
        QCOMPARE(other.becomePrimary(), SingleInstance::Start::Primary);
    }

    void leftoversOfAnEndedInstanceDoNotBlock() {
        // What a crash leaves behind: a lock naming a dead process and a dead socket file.
        const QString lock = m_environment.path(QStringLiteral("run/zentrel-crashed.lock"));
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("999999\nzentrel-vpn\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        file.close();
        QFile socket(m_environment.path(QStringLiteral("run/zentrel-crashed.socket")));
        QVERIFY(socket.open(QIODevice::WriteOnly));
        socket.close();

        SingleInstance instance(QStringLiteral("zentrel-crashed"));
        QCOMPARE(instance.becomePrimary(), SingleInstance::Start::Primary);
        SingleInstance later(QStringLiteral("zentrel-crashed"));
        QVERIFY(later.activatePrimary());
    }

    void neverInAFolderOthersCanWrite() {
        // No runtime folder, and the one Qt would fall back to (in the temporary folder,
        // where another user has left a lock of ours) is another user's.
        const QString shared = m_environment.path(QStringLiteral("tmp"));
        const QString cache = m_environment.path(QStringLiteral("cache"));
        QVERIFY(QDir().mkpath(shared + QStringLiteral("/runtime-") + currentLoginName()));
        writeFile(shared + QStringLiteral("/zentrel-vpn.lock"),
                  "1\nzentrel-vpn\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        const bool root = geteuid() == 0;
        if (root) {
            for (const QString &path :
                 QDir(shared).entryList(QDir::NoDotAndDotDot | QDir::AllEntries))
                QCOMPARE(::chown(QFile::encodeName(shared + '/' + path).constData(), 65534, 65534),
                         0);
        }
        const Environment environment = {{QStringLiteral("XDG_RUNTIME_DIR"), QString()},
                                         {QStringLiteral("TMPDIR"), shared},
                                         {QStringLiteral("XDG_CACHE_HOME"), cache}};

        // Our own private folder instead, found again by a second start.
        QProcess first;
        startApp(first, environment);
        const QString own = cache + QStringLiteral("/zentrel-vpn");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(own + QStringLiteral("/zentrel-vpn.socket")), 15000);
        QCOMPARE(QFile::permissions(own) & 0x0777,
                 QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
        QCOMPARE(runApp(environment).first, 0);
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(10000));

        // What stands in the way is named, and the start fails.
        auto refused = [&](const QString &path) {
            const auto [status, errors] = runApp(environment);
            QCOMPARE(status, 1);
            QVERIFY2(errors.contains("cannot start") && errors.contains(QFile::encodeName(path)),
                     errors.constData());
        };
        const QString lock = own + QStringLiteral("/zentrel-vpn.lock");
        QVERIFY(QDir().mkpath(lock));
        refused(lock);
        QVERIFY(QDir().rmdir(lock));
        QVERIFY(QFile::setPermissions(own, QFile::permissions(own) | QFileDevice::WriteOther));
        refused(own);
        if (!root)
            QSKIP("Only root can give a file to another user");
        QVERIFY(QFile::setPermissions(own, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner));
        QCOMPARE(::chown(QFile::encodeName(own).constData(), 65534, 65534), 0);
        refused(own);
        QCOMPARE(::chown(QFile::encodeName(own).constData(), geteuid(), getegid()), 0);
        writeFile(lock, "");
        QCOMPARE(::chown(QFile::encodeName(lock).constData(), 65534, 65534), 0);
        refused(lock);
    }

private:
    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(SingleInstanceTest, QApplication)
#include "tst_singleinstance.moc"
