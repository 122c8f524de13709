#include "AlertCatcher.h"
#include "AppDelegate.h"
#include "AskPass.h"
#include "ConnectionController.h"
#include "RemoteControl.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"
#include "StatusItem.h"
#include "StatusMenu.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>

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

QString work(const char *name) {
    return qEnvironmentVariable("ZENTREL_E2E_WORK") + QLatin1Char('/') + QLatin1String(name);
}

const QString manualProxy = QStringLiteral("'manual'\n'localhost'\n6969");
const QString tunnelText = QStringLiteral("through the tunnel");
} // namespace

// The application's real connect and disconnect, through the real OpenSSH client and server,
// our own networksetup and the real gsettings; and the real application binary where a
// process of its own has to end.
class TunnelEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("ZENTREL_E2E_WORK"),
                 "run me through in-network-sandbox --local");
        // The user's own proxy before we ever connect: it must come back.
        run(QStringLiteral(
            "gsettings set org.gnome.system.proxy autoconfig-url "
            "'http://wpad.example/proxy.pac'; gsettings set org.gnome.system.proxy mode auto"));
        m_before = desktopProxy();
        QVERIFY(m_before.startsWith(QLatin1String("'auto'")));
        SettingsStore().setText(SettingsKeys::server, QStringLiteral("127.0.0.1"));
        // A desktop's own askpass settings, which ours must override.
        qputenv("SSH_ASKPASS", "/bin/false");
        qputenv("SSH_ASKPASS_REQUIRE", "never");
    }

    void aNewServersKeyIsAskedForInOurDialog() {
        const QString knownHosts = QDir::home().filePath(QStringLiteral(".ssh/known_hosts"));
        QVERIFY(QFile::rename(knownHosts, knownHosts + QStringLiteral(".saved")));
        AppDelegate delegate;
        launch(delegate);
        AlertCatcher catcher;
        delegate.connect();
        QTRY_VERIFY(delegate.sshCommand());
        // It shows the very fingerprint ssh-keygen gives for the server's key.
        const QString fingerprint =
            run(QStringLiteral("ssh-keygen -lf '%1' | cut -d' ' -f2").arg(work("host_key.pub")));
        const QString shown = answerDialog(delegate.sshCommand()->pid(), "cancel");
        QVERIFY2(fingerprint.startsWith(QLatin1String("SHA256:")) && shown.contains(fingerprint),
                 qPrintable(shown));
        QTRY_COMPARE_WITH_TIMEOUT(catcher.alerts().size(), 1, 15000);
        QVERIFY2(catcher.said().startsWith(QLatin1String("SSH Error: ")) &&
                     catcher.said().contains(QLatin1String("verification failed")),
                 qPrintable(catcher.said()));
        QTRY_VERIFY(delegate.connection().isIdle());
        QCOMPARE(desktopProxy(), m_before);
        QVERIFY(!QFile::exists(knownHosts));

        // Trusted: traffic goes through the tunnel and the desktop's proxy points at it.
        catcher.clear();
        delegate.connect();
        QTRY_VERIFY(delegate.connected());
        answerDialog(delegate.sshCommand()->pid(), "accept");
        QTRY_COMPARE_WITH_TIMEOUT(fetchThroughTunnel(), tunnelText, 15000);
        QCOMPARE(*delegate.networkService, QStringLiteral("Wi-Fi"));
        QCOMPARE(desktopProxy(), manualProxy);
        const QByteArray hostKey = TestEnvironment::readFile(work("host_key.pub")).split(' ')[1];
        QVERIFY(TestEnvironment::readFile(knownHosts).contains(hostKey));

        // A server that stops ends the tunnel in the alert. It comes back with a login banner,
        // which ssh prints even with -N at its default log level; the banner stays for the
        // cases after this one.
        run(QStringLiteral("pkill -x sshd; pkill -f 'sshd: '"));
        QTRY_COMPARE_WITH_TIMEOUT(catcher.said().left(11), QStringLiteral("SSH Error: "), 15000);
        QVERIFY(!delegate.connected() && !socksPortAccepts());
        QCOMPARE(desktopProxy(), m_before);
        run(QStringLiteral("echo 'Authorized use only.' > '%1'; echo 'Banner %1' >> '%2'; "
                           "while pgrep -x sshd; do sleep 0.05; done; %3")
                .arg(work("banner"), work("sshd_config"), qEnvironmentVariable("ZENTREL_SSHD")));
        QTRY_VERIFY(run(QStringLiteral("exec 3<>/dev/tcp/127.0.0.1/22 && echo up")) ==
                    QLatin1String("up"));
        QFile::remove(knownHosts);
        QVERIFY(QFile::rename(knownHosts + QStringLiteral(".saved"), knownHosts));
    }

    void whatACrashLeftIsPutRight() {
        // The login check alone: no window, the proxy back, nothing else started; a second
        // check finds nothing recorded and does nothing.
        pid_t ssh = connectAndLeave();
        QVERIFY(ssh > 0);
        kill(ssh, SIGKILL);
        QCOMPARE(desktopProxy(), manualProxy);
        for (const QByteArray &says : {QByteArray("was switched off"), QByteArray()}) {
            QByteArray error;
            QCOMPARE(zentrel({QStringLiteral("--restore-proxy")}, &error).first, 0);
            QVERIFY2(says.isEmpty() ? error.isEmpty() : error.contains(says), error);
            QCOMPARE(desktopProxy(), m_before);
            QVERIFY(!QFile::exists(TunnelRecordFile().path()));
        }

        // The next launch does the same, and says so. A record whose pid now belongs to some
        // other process is not taken for our ssh, and that process is left alone.
        ssh = connectAndLeave();
        QVERIFY(ssh > 0);
        auto stranger = runShellCommand(QStringLiteral("exec sleep 60"));
        kill(ssh, SIGKILL);
        TunnelRecordFile records;
        TunnelRecord record = *records.load().record;
        record.ssh->pid = stranger->pid();
        QString error;
        QVERIFY2(records.save(record, error), qPrintable(error));

        AlertCatcher catcher;
        AppDelegate delegate;
        launch(delegate);
        QVERIFY(!delegate.connected());
        QCOMPARE(desktopProxy(), m_before);
        QCOMPARE(catcher.said(),
                 QStringLiteral("The proxy left on by an earlier run of Zentrel VPN "
                                "was switched off.: "));
        QVERIFY(!catcher.alerts()[0].modal);
        QVERIFY(identifyProcess(stranger->pid()));
        stranger->kill();
    }

    // The user's ssh configuration decides nothing by itself: connection sharing never keeps a
    // tunnel of ours alive, and a tunnel taken over keeps its key.
    void configurationsOfTheRealWorld() {
        const QString sshConfig = QDir::home().filePath(QStringLiteral(".ssh/config"));
        run(QStringLiteral("printf 'Host *\\n ControlMaster auto\\n ControlPath ~/.ssh/cm-%%C\\n"
                           " ControlPersist 60\\n' > '%1'")
                .arg(sshConfig));
        {
            AppDelegate delegate;
            launch(delegate);
            AlertCatcher catcher;
            delegate.connect();
            QTRY_VERIFY_WITH_TIMEOUT(
                delegate.statusItem->toolTip().contains(QLatin1String("Connected to")), 15000);
            QCOMPARE(fetchThroughTunnel(), tunnelText);
            QCOMPARE(desktopProxy(), manualProxy);
            disconnectFully(delegate);
            QCOMPARE(catcher.said(), QString());
            QCOMPARE(run(QStringLiteral("pgrep -cx ssh")), QStringLiteral("0"));
        }
        QFile::remove(sshConfig);

        // A tunnel that outlived us, on a key of its own (not among ssh's defaults): taken over
        // as it is, then restarted with that key.
        const QString key = work("own_key");
        const QString defaultKey = QDir::home().filePath(QStringLiteral(".ssh/id_ed25519"));
        QVERIFY(QFile::rename(defaultKey, key) &&
                QFile::rename(defaultKey + QStringLiteral(".pub"), key + QStringLiteral(".pub")));
        SettingsStore().setText(SettingsKeys::privateKey, QStringLiteral("custom"));
        SettingsStore().setText(SettingsKeys::privateKeyFile, key);
        const pid_t earlier = connectAndLeave();
        QVERIFY(earlier > 0);
        SettingsStore().setText(SettingsKeys::privateKey, QStringLiteral("default"));
        {
            AppDelegate delegate;
            launch(delegate);
            AlertCatcher catcher;
            QVERIFY(delegate.connected());
            QCOMPARE(delegate.menu->connectionItem().title, QStringLiteral("Disconnect"));
            QCOMPARE(delegate.statusItem->opacity(), 1.0);
            QCOMPARE(delegate.sshCommand()->pid(), earlier);
            QCOMPARE(fetchThroughTunnel(), tunnelText);
            delegate.connection().supervisor().resumed();
            QTRY_VERIFY_WITH_TIMEOUT(
                delegate.sshCommand()->pid() != earlier &&
                    delegate.statusItem->toolTip().contains(QLatin1String("Connected to")),
                15000);
            QVERIFY(!identifyProcess(earlier));
            QCOMPARE(fetchThroughTunnel(), tunnelText);
            QCOMPARE(catcher.said(), QString());
            disconnectFully(delegate);
        }
        QVERIFY(QFile::rename(key, defaultKey) &&
                QFile::rename(key + QStringLiteral(".pub"), defaultKey + QStringLiteral(".pub")));
    }

    // zentrel-vpn --connect, --status and --disconnect against the real application.
    void theCommandLineDrivesTheRunningInstance() {
        QCOMPARE(zentrel({QStringLiteral("--status")}),
                 std::pair(3, QByteArray("Zentrel VPN is not running")));
        QCOMPARE(zentrel({QStringLiteral("--disconnect")}).first, 0);

        // None runs: --connect starts it. A server that cannot be reached is ssh's reason.
        SettingsStore().setText(SettingsKeys::server, QStringLiteral("no-such-host.invalid"));
        QByteArray error;
        QCOMPARE(zentrel({QStringLiteral("--connect")}, &error).first, 1);
        QVERIFY2(error.contains("Could not resolve hostname no-such-host.invalid"), error);
        QCOMPARE(desktopProxy(), m_before);
        QCOMPARE(zentrel({QStringLiteral("--status")}).first, 3);
        run(QStringLiteral("pkill -x zentrel-vpn; while pgrep -x zentrel-vpn; do sleep 0.1; done"));

        SettingsStore().setText(SettingsKeys::server, QStringLiteral("127.0.0.1"));
        QCOMPARE(zentrel({QStringLiteral("--connect")}, &error).first, 0);
        QCOMPARE(fetchThroughTunnel(), tunnelText);
        QCOMPARE(zentrel({QStringLiteral("--connect")}).first, 0); // connected: at once
        const auto [status, json] = zentrel({QStringLiteral("--status"), QStringLiteral("--json")});
        const QJsonObject object = QJsonDocument::fromJson(json).object();
        QCOMPARE(status, 0);
        QCOMPARE(object.value(QLatin1String("state")).toString(), QStringLiteral("connected"));
        QCOMPARE(object.value(QLatin1String("socks")).toString(),
                 QStringLiteral("socks5h://localhost:6969"));
        QVERIFY(QDateTime::fromString(object.value(QLatin1String("since")).toString(), Qt::ISODate)
                    .isValid());
        QCOMPARE(zentrel({QStringLiteral("--disconnect")}).first, 0);
        QVERIFY(!socksPortAccepts());
        QCOMPARE(desktopProxy(), m_before);
        QCOMPARE(zentrel({QStringLiteral("--status")}), std::pair(3, QByteArray("Not connected")));
        run(QStringLiteral("pkill -x zentrel-vpn; while pgrep -x zentrel-vpn; do sleep 0.1; done"));

        // A command and a click at the same moment: one ssh, one answer.
        AppDelegate delegate;
        launch(delegate);
        RemoteControl remote(delegate);
        QSignalSpy answers(&remote, &RemoteControl::answered);
        remote.handle("connect", 7);
        delegate.connect();
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 1, 15000);
        QCOMPARE(answers[0][1].toByteArray(), QByteArray("{\"ok\":true}"));
        QCOMPARE(run(QStringLiteral("pgrep -cx ssh")), QStringLiteral("1"));
        disconnectFully(delegate);
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
            QTRY_VERIFY_WITH_TIMEOUT(
                QFile::exists(QDir::homePath() +
                              QStringLiteral("/.local/state/zentrel-vpn/zentrel-vpn.socket")),
                10000);
            kill(static_cast<pid_t>(application.processId()), signal);
            QVERIFY(application.waitForFinished(15000));
            QCOMPARE(application.exitStatus(), QProcess::NormalExit);
            QCOMPARE(application.exitCode(), 0);
            QVERIFY2(!identifyProcess(ssh), qPrintable(QString::number(signal)));
            QCOMPARE(desktopProxy(), m_before);
            QVERIFY(!QFile::exists(TunnelRecordFile().path()));
        }
    }

private:
    // Reads ssh's dialog and answers it as a person would, with a click on its button;
    // returns the text it showed.
    static QString answerDialog(pid_t ssh, const char *button) {
        auto person = runShellCommand(
            QStringLiteral("source '%1/../askpass/lib.sh' '%2' && w=$(wait_for_dialog %3) && "
                           "shown_text \"$w\" && click \"$w\" %4")
                .arg(QStringLiteral(ZENTREL_TESTS_DIR),
                     askPassProgram(QCoreApplication::applicationDirPath()))
                .arg(ssh)
                .arg(QLatin1String(button)));
        person->waitForExit();
        if (person->exitCode() != 0)
            qWarning("answering the dialog failed: %s", person->output().constData());
        return QString::fromUtf8(person->output());
    }

    // Runs the real application with these arguments: its exit code (-1 if it did not end) and
    // its output.
    static std::pair<int, QByteArray> zentrel(const QStringList &arguments,
                                              QByteArray *error = nullptr) {
        QProcess command;
        command.start(QStringLiteral(ZENTREL_APP_PATH), arguments);
        const int code = command.waitForFinished(70000) ? command.exitCode() : -1;
        if (error)
            *error = command.readAllStandardError();
        return {code, command.readAllStandardOutput().trimmed()};
    }

    static void launch(AppDelegate &delegate) {
        delegate.applicationDidFinishLaunching();
        QTRY_VERIFY(delegate.connection().isIdle());
    }

    // Disconnects, and sees the tunnel gone and the user's own proxy back.
    void disconnectFully(AppDelegate &delegate) {
        delegate.disconnect();
        QTRY_VERIFY(delegate.connection().isIdle());
        QVERIFY(!delegate.connected() && !socksPortAccepts());
        QCOMPARE(desktopProxy(), m_before);
    }

    // Connects, then ends the delegate the way the window's Quit does: the tunnel and the
    // switched proxy stay. Returns ssh's pid, or 0 when the tunnel did not come up.
    pid_t connectAndLeave() {
        AppDelegate delegate;
        launch(delegate);
        delegate.connect();
        const bool up = QTest::qWaitFor([] { return socksPortAccepts(); }, 15000) &&
                        QTest::qWaitFor([&] { return delegate.connection().isIdle(); });
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
