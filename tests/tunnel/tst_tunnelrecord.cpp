#include "ConnectionController.h"
#include "TestEnvironment.h"
#include "TunnelRecord.h"

#include <sys/stat.h>
#include <unistd.h>

class TunnelRecordTest : public QObject {
    Q_OBJECT

public:
    explicit TunnelRecordTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void recordsSurviveOnlyWhole() {
        const TunnelRecord record{QStringLiteral("Wi-Fi \"2\""),
                                  true,
                                  6969,
                                  QStringLiteral("d"),
                                  QStringLiteral("h"),
                                  ProcessIdentity{4242, 1234567890123ULL, "b"}};
        const QByteArray text = serializeTunnelRecord(record);
        QCOMPARE(parseTunnelRecord(text), std::optional<TunnelRecord>(record));
        QCOMPARE(parseTunnelRecord(serializeTunnelRecord({})),
                 std::optional<TunnelRecord>(TunnelRecord{}));
        for (const QByteArray &damaged :
             {text.left(text.size() / 2), QByteArray("{}"), QByteArray(text).replace("4242", "1"),
              QByteArray(text).replace("6969", "\"6969\""), QByteArray(text).replace("\"b\"", "1")})
            QVERIFY2(!parseTunnelRecord(damaged), damaged);
    }

    void decisions() {
        const TunnelRecord withSsh{QStringLiteral("Wi-Fi"), true, 6969, {}, {}, ProcessIdentity{}};
        TunnelRecord noService = withSsh;
        noService.networkService.clear();
        noService.proxySwitchedOn = false;
        QCOMPARE(recoveryFor(std::nullopt, false), Recovery::Nothing);
        QCOMPARE(recoveryFor(withSsh, true), Recovery::Adopt);
        QCOMPARE(recoveryFor(withSsh, false), Recovery::SwitchOff);
        QCOMPARE(recoveryFor(noService, false), Recovery::Forget);

        using Job = ConnectionJob;
        // connected false / true, and nothing at all once quitting
        const QList<std::tuple<Job, bool, bool>> table = {{Job::Recover, true, false},
                                                          {Job::Connect, true, false},
                                                          {Job::Disconnect, false, true},
                                                          {Job::Fail, false, true},
                                                          {Job::Quit, true, true}};
        for (const auto &[job, whenDisconnected, whenConnected] : table) {
            QCOMPARE(connectionJobApplies(job, false, false), whenDisconnected);
            QCOMPARE(connectionJobApplies(job, true, false), whenConnected);
            QVERIFY(!connectionJobApplies(job, true, true));
        }
    }

    void theFileIsNeverFollowedOrTrustedBlindly() {
        const QString directory = m_environment.path(QStringLiteral("state/zentrel-vpn"));
        const TunnelRecordFile file(directory);
        const TunnelRecord record{QStringLiteral("Wi-Fi"), true, 6969, {}, {}, std::nullopt};
        QString error;
        QVERIFY2(file.save(record, error), qPrintable(error));
        QCOMPARE(file.load().record, std::optional<TunnelRecord>(record));
        QCOMPARE(QFileInfo(directory).permissions() & QFileDevice::WriteGroup, 0);
        QCOMPARE(QDir(directory).entryList(QDir::Files), QStringList{QStringLiteral("tunnel")});

        // A link in its place is not read through, a FIFO does not hang us, a huge file is
        // not read, and a folder that others may write to is not trusted at all.
        const QString target = m_environment.path(QStringLiteral("elsewhere"));
        QFile::copy(file.path(), target);
        QVERIFY(QFile::remove(file.path()) && QFile::link(target, file.path()));
        QVERIFY(!file.load().error.isEmpty());
        QFile::remove(file.path());
        QCOMPARE(mkfifo(QFile::encodeName(file.path()).constData(), 0600), 0);
        QVERIFY(!file.load().error.isEmpty());
        QFile::remove(file.path());
        QFile big(file.path());
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write(QByteArray(1024 * 1024, ' ') + serializeTunnelRecord(record));
        big.close();
        QVERIFY(!file.load().error.isEmpty());

        QVERIFY(file.save(record, error)); // replaces it, whatever it was
        QCOMPARE(chmod(QFile::encodeName(directory).constData(), 0777), 0);
        QVERIFY(!file.load().error.isEmpty());
        QVERIFY(!file.save(record, error));
        QVERIFY(error.contains(directory));
        QVERIFY(QFileInfo(target).size() > 0);
    }

private:
    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(TunnelRecordTest, QCoreApplication)
#include "tst_tunnelrecord.moc"
