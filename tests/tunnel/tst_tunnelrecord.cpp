#include "TestEnvironment.h"
#include "TunnelRecord.h"

#include <sys/stat.h>

class TunnelRecordTest : public QObject {
    Q_OBJECT

public:
    explicit TunnelRecordTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void recordsSurviveOnlyWhole() {
        const TunnelRecord record{
            "Wi-Fi \"2\"", true,   6969, "d", "h", ProcessIdentity{4242, 1234567890123ULL, "b"},
            "custom",      "~/k y"};
        const QByteArray text = serializeTunnelRecord(record);
        QCOMPARE(parseTunnelRecord(text), std::optional<TunnelRecord>(record));
        // An earlier version's record names no key: ssh's own keys, as then.
        QByteArray earlier = text;
        earlier.replace(",\"privateKey\":\"custom\",\"privateKeyFile\":\"~/k y\"", "");
        QVERIFY2(earlier != text, earlier);
        QCOMPARE(parseTunnelRecord(earlier)->privateKey, QStringLiteral("default"));
        QCOMPARE(parseTunnelRecord(serializeTunnelRecord({})), std::optional(TunnelRecord{}));
        for (const QByteArray &damaged :
             {text.left(text.size() / 2), QByteArray("{}"), QByteArray(text).replace("4242", "1"),
              QByteArray(text).replace("6969", "\"6969\""), QByteArray(text).replace("\"b\"", "1"),
              QByteArray(text).replace("\"custom\"", "2")})
            QVERIFY2(!parseTunnelRecord(damaged), damaged);
    }

    void aRecordOfNothingIsForgotten() {
        QCOMPARE(recoveryFor(TunnelRecord{}, false), Recovery::Forget);
    }

    void theFileIsNeverFollowedOrTrustedBlindly() {
        const QString directory = m_environment.path(QStringLiteral("state/zentrel-vpn"));
        const TunnelRecordFile file(directory);
        const TunnelRecord record{"Wi-Fi", true, 6969, {}, {}, std::nullopt, {}, {}};
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
        QVERIFY(!file.save(record, error) && error.contains(directory));
        QVERIFY(QFileInfo(target).size() > 0);
    }

private:
    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(TunnelRecordTest, QCoreApplication)
#include "tst_tunnelrecord.moc"
