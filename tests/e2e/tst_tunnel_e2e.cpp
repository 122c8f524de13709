#include "AlertCatcher.h"
#include "AppDelegate.h"
#include "AskPass.h"
#include "ConnectionController.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"
#include "StatusItem.h"
#include "StatusMenu.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {
QString run(const QString &commandLine) {
    return QString::fromUtf8(runShellCommand(commandLine)->readToEnd()).trimmed();
}

bool socksPortAccepts() {
    auto probe = runShellCommand(QStringLiteral("exec 3<>/dev/tcp/127.0.0.1/6969"));
    probe->waitForExit();
    return probe->exitCode() == 0;
}

QString fetchThroughTunnel() {
    return run(QStringLiteral("curl -sS --max-time 10 --socks5-hostname 127.0.0.1:6969 "
                              "http://127.0.0.1:8080/marker.txt"));
}

QString desktopProxy() {
    return run(QStringLiteral("gsettings get org.gnome.system.proxy mode; "
                              "gsettings get org.gnome.system.proxy.socks host; "
                              "gsettings get org.gnome.system.proxy.socks port"));
}

QString work(const QString &name) {
    return QFile::decodeName(qgetenv("ZENTREL_E2E_WORK")) + QLatin1Char('/') + name;
}

QByteArray fileContents(const QString &name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool isAlive(pid_t pid) {
    return identifyProcess(pid).has_value();
}

const QString manualProxy = QStringLiteral("'manual'\n'localhost'\n6969");
} // namespace

// The application's real connect and disconnect, through the real OpenSSH client and server,
// our own networksetup and the real gsettings; and the real application binary where a
// process of its own has to end.
class TunnelEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("ZENTREL_E2E_WORK"), "run me through in-sandbox");
        // The user's own proxy before we ever connect: it must come back.
        run(QStringLiteral(
            "gsettings set org.gnome.system.proxy autoconfig-url "
            "'http://wpad.example/proxy.pac'; gsettings set org.gnome.system.proxy mode auto"));
        m_before = desktopProxy();
        QVERIFY(m_before.startsWith(QLatin1String("'auto'")));
        SettingsStore().setText(SettingsKeys::server, QStringLiteral("127.0.0.1"));
    }

    void trafficGoesThroughTheTunnel() {
        AppDelegate delegate;
        launch(delegate);
        AlertCatcher catcher;
        delegate.connect();
        QTRY_VERIFY_WITH_TIMEOUT(socksPortAccepts(), 15000);
        QCOMPARE(*delegate.networkService, QStringLiteral("Wi-Fi"));
        QCOMPARE(fetchThroughTunnel(), QStringLiteral("through the tunnel"));
        QCOMPARE(desktopProxy(), manualProxy);

        delegate.disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(!socksPortAccepts(), 10000);
        QTRY_VERIFY(delegate.connection().isIdle());
        QCOMPARE(desktopProxy(), m_before);
        QTest::qWait(200);
        QVERIFY2(catcher.alerts().isEmpty(), qPrintable(catcher.alerts().value(0).informativeText));
    }

    void refusedKeyAndStoppedServerEndInTheAlert() {
        AppDelegate delegate;
        launch(delegate);
        QFile::rename(work(QStringLiteral("authorized_keys")),
                      work(QStringLiteral("authorized_keys.off")));
        AlertCatcher catcher;
        delegate.connect();
        QTRY_COMPARE_WITH_TIMEOUT(catcher.alerts().size(), 1, 15000);
        QFile::rename(work(QStringLiteral("authorized_keys.off")),
                      work(QStringLiteral("authorized_keys")));
        QCOMPARE(catcher.alerts()[0].text, QStringLiteral("SSH Error"));
        QVERIFY2(catcher.alerts()[0].informativeText.contains(QLatin1String("Permission denied")),
                 qPrintable(catcher.alerts()[0].informativeText));
        QVERIFY(!delegate.connected());
        QCOMPARE(delegate.menu->connectionItem().title, QStringLiteral("Connect"));
        QCOMPARE(desktopProxy(), m_before);

        catcher.clear();
        QTRY_VERIFY(delegate.connection().isIdle());
        delegate.connect();
        QTRY_VERIFY_WITH_TIMEOUT(socksPortAccepts(), 15000);
        run(QStringLiteral("pkill -x sshd; pkill -f 'sshd: '"));
        QTRY_COMPARE_WITH_TIMEOUT(catcher.alerts().size(), 1, 15000);
        QCOMPARE(catcher.alerts()[0].text, QStringLiteral("SSH Error"));
        QVERIFY(!delegate.connected());
        QCOMPARE(desktopProxy(), m_before);
        QVERIFY(!socksPortAccepts());
        run(QFile::decodeName(qgetenv("ZENTREL_SSHD")));
    }

    void aNewServersKeyIsAskedForInOurDialog() {
        const QString knownHosts = QDir::home().filePath(QStringLiteral(".ssh/known_hosts"));
        QVERIFY(QFile::rename(knownHosts, knownHosts + QStringLiteral(".saved")));
        AppDelegate delegate;
        launch(delegate);
        AlertCatcher catcher;
        delegate.connect();
        QTRY_VERIFY(delegate.sshCommand());
        answerDialog(delegate.sshCommand()->pid(), QStringLiteral("cancel"));
        QTRY_COMPARE_WITH_TIMEOUT(catcher.alerts().size(), 1, 15000);
        QCOMPARE(catcher.alerts()[0].text, QStringLiteral("SSH Error"));
        QVERIFY2(catcher.alerts()[0].informativeText.contains(QLatin1String("verification failed")),
                 qPrintable(catcher.alerts()[0].informativeText));
        QTRY_VERIFY(delegate.connection().isIdle());
        QCOMPARE(desktopProxy(), m_before);
        QVERIFY(!QFile::exists(knownHosts));

        catcher.clear();
        delegate.connect();
        QTRY_VERIFY(delegate.connected());
        answerDialog(delegate.sshCommand()->pid(), QStringLiteral("accept"));
        QTRY_VERIFY_WITH_TIMEOUT(socksPortAccepts(), 15000);
        QCOMPARE(fetchThroughTunnel(), QStringLiteral("through the tunnel"));
        QVERIFY(
            fileContents(knownHosts)
                .contains(fileContents(work(QStringLiteral("host_key.pub"))).split(' ').value(1)));
        QVERIFY2(catcher.alerts().isEmpty(), qPrintable(catcher.alerts().value(0).informativeText));
        delegate.disconnect();
        QTRY_VERIFY(delegate.connection().isIdle());
        QFile::remove(knownHosts);
        QVERIFY(QFile::rename(knownHosts + QStringLiteral(".saved"), knownHosts));
    }

    void aTunnelThatOutlivedUsIsTakenOver() {
        const pid_t ssh = connectAndLeave();
        QVERIFY(isAlive(ssh));
        AppDelegate delegate;
        launch(delegate);
        QVERIFY(delegate.connected());
        QCOMPARE(delegate.menu->connectionItem().title, QStringLiteral("Disconnect"));
        QCOMPARE(delegate.statusItem->opacity(), 1.0);
        QCOMPARE(delegate.sshCommand()->pid(), ssh);
        QCOMPARE(fetchThroughTunnel(), QStringLiteral("through the tunnel"));

        delegate.disconnect();
        QTRY_VERIFY(delegate.connection().isIdle());
        QTRY_VERIFY(!isAlive(ssh));
        QVERIFY(!socksPortAccepts());
        QCOMPARE(desktopProxy(), m_before);
    }

    void whatACrashLeftIsPutRight() {
        // The login check alone: no window, the proxy back, nothing else started.
        pid_t ssh = connectAndLeave();
        QVERIFY(ssh > 0);
        kill(ssh, SIGKILL);
        QCOMPARE(desktopProxy(), manualProxy);
        QProcess check;
        check.start(QStringLiteral(ZENTREL_APP_PATH), {QStringLiteral("--restore-proxy")});
        QVERIFY(check.waitForFinished(20000));
        QCOMPARE(check.exitCode(), 0);
        QVERIFY(check.readAllStandardError().contains("was switched off"));
        QCOMPARE(desktopProxy(), m_before);
        QVERIFY(!QFile::exists(TunnelRecordFile().path()));
        check.start(QStringLiteral(ZENTREL_APP_PATH), {QStringLiteral("--restore-proxy")});
        QVERIFY(check.waitForFinished(20000));
        QCOMPARE(check.exitCode(), 0); // nothing recorded, nothing done
        QCOMPARE(check.readAllStandardError(), QByteArray());

        // The next launch does the same, and says so. A record whose pid now belongs to some
        // other process is not taken for our ssh, and that process is left alone.
        ssh = connectAndLeave();
        QVERIFY(ssh > 0);
        QProcess stranger;
        stranger.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(stranger.waitForStarted());
        kill(ssh, SIGKILL);
        TunnelRecordFile records;
        TunnelRecord record = *records.load().record;
        record.ssh->pid = static_cast<pid_t>(stranger.processId());
        QString error;
        QVERIFY2(records.save(record, error), qPrintable(error));

        AlertCatcher catcher;
        AppDelegate delegate;
        launch(delegate);
        QVERIFY(!delegate.connected());
        QCOMPARE(desktopProxy(), m_before);
        QCOMPARE(catcher.alerts().size(), 1);
        QCOMPARE(
            catcher.alerts()[0].text,
            QStringLiteral("The proxy left on by an earlier run of Zentrel VPN was switched off."));
        QVERIFY(!catcher.alerts()[0].modal);
        QVERIFY(isAlive(static_cast<pid_t>(stranger.processId())));
        stranger.kill();
        stranger.waitForFinished();
    }

    void terminationSignalsDisconnectFirst() {
        for (const int signal : {SIGTERM, SIGHUP}) {
            const pid_t ssh = connectAndLeave();
            QVERIFY(ssh > 0);
            // The real application takes the tunnel over, then is told to end.
            QProcess application;
            application.setProcessChannelMode(QProcess::ForwardedChannels);
            application.start(QStringLiteral(ZENTREL_APP_PATH));
            QVERIFY(application.waitForStarted());
            const QString socket = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR")) +
                                   QStringLiteral("/zentrel-vpn.socket");
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 10000);
            kill(static_cast<pid_t>(application.processId()), signal);
            QVERIFY(application.waitForFinished(15000));
            QCOMPARE(application.exitStatus(), QProcess::NormalExit);
            QCOMPARE(application.exitCode(), 0);
            QVERIFY2(!isAlive(ssh), qPrintable(QString::number(signal)));
            QCOMPARE(desktopProxy(), m_before);
            QVERIFY(!QFile::exists(TunnelRecordFile().path()));
        }
    }

private:
    // Answers ssh's dialog as a person would, with a click on its button.
    static void answerDialog(pid_t ssh, const QString &button) {
        auto person = runShellCommand(
            QStringLiteral(
                "source '%1/../askpass/lib.sh' '%2' && click \"$(wait_for_dialog %3)\" %4")
                .arg(QStringLiteral(ZENTREL_TESTS_DIR),
                     askPassProgram(QCoreApplication::applicationDirPath()))
                .arg(ssh)
                .arg(button));
        person->waitForExit();
        QVERIFY2(person->exitCode() == 0, person->output());
    }

    static void launch(AppDelegate &delegate) {
        delegate.applicationDidFinishLaunching();
        QTRY_VERIFY(delegate.connection().isIdle());
    }

    // Connects, then ends the delegate the way the window's Quit does: the tunnel and the
    // switched proxy stay. Returns ssh's pid.
    pid_t connectAndLeave() {
        AppDelegate delegate;
        launch(delegate);
        delegate.connect();
        const bool up = QTest::qWaitFor([] { return socksPortAccepts(); }, 15000) &&
                        QTest::qWaitFor([&] { return delegate.connection().isIdle(); });
        // A failure shows in the caller's checks: no pid.
        return up && delegate.connected() ? delegate.sshCommand()->pid() : 0;
    }

    QString m_before;
};

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    TunnelEndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_tunnel_e2e.moc"
