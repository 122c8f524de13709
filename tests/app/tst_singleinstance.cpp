#include "SingleInstance.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>

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
        QVERIFY(first.becomePrimary());
        QSignalSpy activations(&first, &SingleInstance::activationRequested);

        SingleInstance second(QStringLiteral("zentrel-test"));
        QVERIFY(!second.becomePrimary());
        QVERIFY(second.activatePrimary());
        QVERIFY(activations.wait(5000));

        // A different application name is not in the way.
        SingleInstance other(QStringLiteral("zentrel-other"));
        QVERIFY(other.becomePrimary());
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
        QVERIFY(instance.becomePrimary());
        SingleInstance later(QStringLiteral("zentrel-crashed"));
        QVERIFY(later.activatePrimary());
    }

    void theApplicationStartsOnce() {
        QProcess first;
        first.setProgram(QStringLiteral(ZENTREL_APP_PATH));
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        first.start();
        QVERIFY(first.waitForStarted());
        // It listens once it holds the lock.
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(m_environment.path(QStringLiteral("run/zentrel-vpn.socket"))), 15000);

        QProcess second;
        second.setProgram(QStringLiteral(ZENTREL_APP_PATH));
        second.start();
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        first.terminate();
        QVERIFY(first.waitForFinished(10000));
    }

private:
    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(SingleInstanceTest, QApplication)
#include "tst_singleinstance.moc"
