#include "ShellProcess.h"
#include "SshMonitor.h"
#include "TestEnvironment.h"

#include <QSignalSpy>

class SshMonitorTest : public QObject {
    Q_OBJECT

public:
    explicit SshMonitorTest(TestEnvironment &) {}

private slots:
    // What is shown of ssh's words when the tunnel fails; the flows through the menu cover the
    // ordinary ones.
    void outputShown() {
        QCOMPARE(sshOutputText("Authorized use only.\r\n\r\nchannel 3: open failed: x\n"
                               "Warning: Permanently added 'h' (ED25519) to the list of known "
                               "hosts.\r\nuser@h: Permission denied (publickey).\r\n"),
                 QStringLiteral("Authorized use only.\r\n\r\nuser@h: Permission denied "
                                "(publickey)."));
        QCOMPARE(sshOutputText("bad \xff byte"), QStringLiteral(u"bad \uFFFD byte"));
        QCOMPARE(sshEndedText(sshOutputText("channel 3: open failed\n"), 255, {}),
                 QStringLiteral("The SSH connection ended: ssh exited with status 255."));
        QVERIFY(sshEndedText({}, {}, 9).contains(QLatin1String("signal 9")));
    }

    void aTerminatedProcessReportsNothing() {
        // Like ssh, it says something on its way out.
        auto process = runShellCommand(
            QStringLiteral("trap 'echo Killed by signal 15. >&2; exit 255' TERM; sleep 60 & wait"));
        SshMonitor monitor(*process);
        QSignalSpy ended(&monitor, &SshMonitor::ended);
        QSignalSpy exited(process.get(), &ShellProcess::exited);
        QTest::qWait(100);
        process->terminate();
        QVERIFY(exited.wait(10000));
        QCOMPARE(ended.count(), 0);
        QCOMPARE(monitor.said(), QString()); // what it said on its way out is no report
    }
};

ZENTREL_TEST_MAIN(SshMonitorTest, QCoreApplication)
#include "tst_sshmonitor.moc"
