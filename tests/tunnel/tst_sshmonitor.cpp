#include "ShellProcess.h"
#include "SshMonitor.h"
#include "TestEnvironment.h"

#include <QSignalSpy>

#include <csignal>

class SshMonitorTest : public QObject {
    Q_OBJECT

public:
    explicit SshMonitorTest(TestEnvironment &) {}

private slots:
    void firstChunkRule() {
        const QList<QByteArray> ignored = {
            "",
            "\n\n\n",
            "channel 3: open failed: connect failed: Connection refused\r\n",
            "  \n\tchannel 2: x",
            "channel 1: ok\nssh: something went wrong later",
        };
        for (const QByteArray &chunk : ignored)
            QVERIFY2(!sshErrorText(chunk), chunk.constData());

        QCOMPARE(sshErrorText("Channel 3: closed"),
                 std::optional<QString>(QStringLiteral("Channel 3: closed")));
        QCOMPARE(sshErrorText("channel"), std::optional<QString>(QStringLiteral("channel")));
        QCOMPARE(sshErrorText(" \r\nssh: Could not resolve hostname x\r\nsecond line\n\n"),
                 std::optional<QString>(
                     QStringLiteral("ssh: Could not resolve hostname x\r\nsecond line")));
        QCOMPARE(sshErrorText("bad \xff byte"),
                 std::optional<QString>(QStringLiteral(u"bad \uFFFD byte")));
    }

    void endedText() {
        QCOMPARE(sshEndedText(QStringLiteral("Connection closed"), 255, std::nullopt),
                 QStringLiteral("Connection closed"));
        QVERIFY(sshEndedText(QString(), 255, std::nullopt).contains(QLatin1String("status 255")));
        QVERIFY(sshEndedText(QString(), std::nullopt, 9).contains(QLatin1String("signal 9")));
    }

    void watchesARealProcess() {
        struct Case {
            const char *what;
            QString commandLine;
            QByteArray expectedFirstChunk; // empty: no first chunk
            QString expectedEnded;         // empty: no report
        };
        const QList<Case> cases = {
            {"silent exit", QStringLiteral("exit 255"), {}, QStringLiteral("status 255")},
            {"dies after a channel message",
             QStringLiteral("echo 'channel 2: open failed' >&2; sleep 0.3; echo 'Connection reset' "
                            ">&2; exit 255"),
             "channel 2: open failed\n", QStringLiteral("Connection reset")},
        };
        for (const Case &c : cases) {
            auto process = runShellCommand(c.commandLine);
            SshMonitor monitor(*process);
            QSignalSpy firstChunks(&monitor, &SshMonitor::firstChunk);
            QSignalSpy ended(&monitor, &SshMonitor::ended);
            QVERIFY2(ended.wait(10000), c.what);
            QCOMPARE(firstChunks.count(), c.expectedFirstChunk.isEmpty() ? 0 : 1);
            if (!c.expectedFirstChunk.isEmpty())
                QCOMPARE(firstChunks.first().at(0).toByteArray(), c.expectedFirstChunk);
            QVERIFY2(ended.first().at(0).toString().contains(c.expectedEnded), c.what);
        }
    }

    void aTerminatedProcessReportsNothing() {
        // Like ssh, it says something on its way out.
        auto process = runShellCommand(
            QStringLiteral("trap 'echo Killed by signal 15. >&2; exit 255' TERM; sleep 60 & wait"));
        SshMonitor monitor(*process);
        QSignalSpy firstChunks(&monitor, &SshMonitor::firstChunk);
        QSignalSpy ended(&monitor, &SshMonitor::ended);
        QSignalSpy exited(process.get(), &ShellProcess::exited);
        QTest::qWait(100);
        process->terminate();
        QVERIFY(exited.wait(10000));
        QCOMPARE(firstChunks.count(), 0);
        QCOMPARE(ended.count(), 0);
    }
};

ZENTREL_TEST_MAIN(SshMonitorTest, QCoreApplication)
#include "tst_sshmonitor.moc"
