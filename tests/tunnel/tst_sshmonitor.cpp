#include "ShellProcess.h"
#include "SshMonitor.h"
#include "TestEnvironment.h"

#include <QSignalSpy>

class SshMonitorTest : public QObject {
    Q_OBJECT

public:
    explicit SshMonitorTest(TestEnvironment &) {}

private slots:
    // The menu-level flows cover the ordinary chunks; these are the awkward ones.
    void firstChunkRule() {
        const auto error = [](const char *chunk) {
            return sshErrorText(chunk).value_or("-");
        };
        QCOMPARE(error("channel 1: ok\r\nssh: something went wrong later\n"), "-");
        QCOMPARE(error(" \t\r\n"), "-");
        QCOMPARE(error("Warning: Permanently added '10.0.0.2' (ED25519) to the list of known "
                       "hosts.\r\n"),
                 "-");
        QCOMPARE(error("Warning: Permanently added 'h' (RSA) to the list of known hosts.\n"
                       "user@h: Permission denied (publickey).\n"),
                 "user@h: Permission denied (publickey).");
        QCOMPARE(error(" \r\nssh: Could not resolve hostname x\r\nsecond line\n\n"),
                 "ssh: Could not resolve hostname x\r\nsecond line");
        QCOMPARE(error("bad \xff byte"), QStringLiteral(u"bad \uFFFD byte"));

        // Reports about single forwarded connections (the tunnel checks among them) do not
        // explain an end.
        const QString probeNoise = QStringLiteral("channel 3: open failed: connect failed: x");
        QCOMPARE(sshEndedText(probeNoise + QStringLiteral("\nclient_loop: Broken pipe"), 255, {}),
                 QStringLiteral("client_loop: Broken pipe"));
        QVERIFY(sshEndedText(probeNoise, 255, {}).contains(QLatin1String("status 255")));
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
        QCOMPARE(firstChunks.count() + ended.count(), 0);
    }
};

ZENTREL_TEST_MAIN(SshMonitorTest, QCoreApplication)
#include "tst_sshmonitor.moc"
