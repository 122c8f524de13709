#include "AlertCatcher.h"
#include "AppDelegate.h"
#include "ConnectionController.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"
#include "StatusItem.h"
#include "StatusMenu.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QTcpServer>
#include <QTimer>

namespace {
// Stand-ins that log what runs, in order, to $RUN_LOG. The proxy commands take a moment, so a
// caller that does not wait for them would be seen starting the next step too early.
const QByteArray networksetupStandIn = R"(
if [ "$3" = off ]; then
    # The tunnel must have been told to stop before the proxy goes off.
    for i in $(seq 50); do grep -q '^ssh terminated' "$RUN_LOG" && break; sleep 0.02; done
fi
echo "networksetup $* begin" >> "$RUN_LOG"
[ "$1" = -listnetworkserviceorder ] &&
    printf '%s\n' "${SERVICES-(1) Wi-Fi}" '(Hardware Port: Wi-Fi, Device: wlan0)'
sleep 0.1
[ "$1" != -listnetworkserviceorder ] && [ -n "$PROXY_FAILS" ] &&
    { echo "no proxy for $2" >&2; exit 1; }
echo "networksetup $* end" >> "$RUN_LOG"
)";
// Notes when a second one starts while another still runs. The trap comes first: "started"
// in the log means it is ready for SIGTERM.
const QByteArray sshStandIn = R"sh(
trap 'echo "ssh terminated" >> "$RUN_LOG"; [ -z "$SSH_STUBBORN" ] && exit 143' TERM
[ "$(pgrep -fc "^/bin/bash $0 -NTCD")" -gt 1 ] && echo "two ssh at once" >> "$RUN_LOG"
echo "ssh $* started" >> "$RUN_LOG"
[ -n "$SSH_SAYS" ] && printf "$SSH_SAYS" >&2
[ -n "$SSH_EXITS" ] && exit "$SSH_EXITS"
while :; do sleep 60 & wait; done
)sh";
const QString sshStarted = QStringLiteral("ssh -NTCD6969 -o ControlPath=none -o "
                                          "ExitOnForwardFailure=yes -o ServerAliveInterval=10 "
                                          "demo@127.0.0.1 started");
} // namespace

class ConnectionTest : public QObject {
    Q_OBJECT

public:
    explicit ConnectionTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void initTestCase() {
        m_environment.installTool(QStringLiteral("networksetup"), networksetupStandIn);
        m_environment.installTool(QStringLiteral("ssh"), sshStandIn);
        qputenv("RUN_LOG", QFile::encodeName(runLog()));
    }

    void init() {
        QFile::remove(SettingsStore().location());
        QFile::remove(TunnelRecordFile().path());
        QFile::remove(runLog());
        for (const char *name : {"SSH_SAYS", "SSH_EXITS", "SSH_STUBBORN", "PROXY_FAILS", "SERVICES",
                                 "ZENTREL_START_DEADLINE_MS"})
            qunsetenv(name);
    }

    void cleanup() {
        QCOMPARE(log().count(QLatin1String("two ssh at once")), 0);
        // Whatever a failed case left open must not be seen by the next.
        for (QWidget *window : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox *>(window))
                window->close();
        runShellCommand(QStringLiteral("pkill -9 -f '%1'").arg(sshPattern()))->waitForExit();
    }

    void connectAndDisconnectRunInOrderAndSettingsWaitForTheNextConnect() {
        qputenv("SERVICES", "(1) Ethernet"); // what is detected is what is switched
        // What ssh writes is no error by itself.
        qputenv("SSH_SAYS", "channel 3: open failed: administratively prohibited\\n");
        AppDelegate delegate;
        launchConfigured(delegate);
        AlertCatcher catcher;
        QCOMPARE(looks(delegate), QStringLiteral("Connect | Not connected"));
        delegate.connect();
        QTRY_VERIFY(delegate.connected());
        // The stand-in never listens on the port: connected, but never "Connected".
        QCOMPARE(looks(delegate), QStringLiteral("Disconnect | Connecting\u2026"));
        QVERIFY(sshReady());
        QTest::qWait(400);
        QVERIFY2(delegate.connected() && catcher.alerts().isEmpty(), qPrintable(catcher.said()));
        delegate.disconnect();
        QTRY_VERIFY(delegate.connection().isIdle() && !delegate.connected());
        QCOMPARE(
            log().split(QLatin1Char('\n'), Qt::SkipEmptyParts),
            (QStringList{
                QStringLiteral("networksetup -setsocksfirewallproxy Ethernet localhost 6969 begin"),
                QStringLiteral("networksetup -setsocksfirewallproxy Ethernet localhost 6969 end"),
                QStringLiteral("networksetup -setsocksfirewallproxystate Ethernet on begin"),
                QStringLiteral("networksetup -setsocksfirewallproxystate Ethernet on end"),
                sshStarted,
                QStringLiteral("ssh terminated"),
                QStringLiteral("networksetup -setsocksfirewallproxystate Ethernet off begin"),
                QStringLiteral("networksetup -setsocksfirewallproxystate Ethernet off end"),
            }));

        // Settings changed while connected leave the tunnel and the menu alone: the proxy that
        // was switched on is the one switched off.
        QFile::remove(runLog());
        delegate.connect();
        QTRY_VERIFY(delegate.connected());
        delegate.settingsStore().setText(SettingsKeys::networkService, QStringLiteral("Wi-Fi"));
        delegate.settingsStore().setText(SettingsKeys::server, QString());
        QCOMPARE(looks(delegate), QStringLiteral("Disconnect | Connecting\u2026"));
        QVERIFY(sshReady());
        delegate.disconnect();
        delegate.disconnect(); // no longer applies when its turn comes
        QTRY_VERIFY(delegate.connection().isIdle());
        QCOMPARE(log().count(QLatin1String("-setsocksfirewallproxystate Ethernet off end")), 1);
        QVERIFY(!log().contains(QLatin1String("Wi-Fi")));
        // "Connect" is offered whatever the server holds, until the next settings change.
        QCOMPARE(looks(delegate), QStringLiteral("Connect | Not connected"));
        delegate.settingsStore().setInteger(SettingsKeys::port, 1080);
        QCOMPARE(looks(delegate), QStringLiteral("Not Configured | Not configured"));
        QVERIFY2(catcher.alerts().isEmpty(), qPrintable(catcher.said())); // nor did our own ends
    }

    void sshIsJudgedByWhatItDoes() {
        struct Case {
            const char *what;
            QByteArray says;
            QByteArray exits;
            QString alert;
            QByteArray startDeadlineMs = {};
            bool portTaken = false;
            bool serverTooLong = false; // longer than one argument may be: ssh cannot start
        };
        // An ssh that ends, or that does not hold the port in time, is an error, and the alert
        // shows what it wrote. Another program on the port is found before anything is
        // switched. An ssh that cannot start is an error too.
        const QList<Case> cases = {
            {"banner, then refused", "Authorized use only.\\nd@h: Permission denied.\\n", "255",
             QStringLiteral("Authorized use only.\nd@h: Permission denied.")},
            {"silent exit", {}, "255", QStringLiteral("ssh exited with status 255")},
            {"dies after a channel message", "channel 1: x\\n", "1", QStringLiteral("status 1")},
            {"never listens",
             "Authorized use only.\\n",
             {},
             QStringLiteral("SOCKS port 6969 within 1 seconds.\n\nssh said:\nAuthorized use only."),
             "1000"},
            {"port taken on ::1 alone", {}, {}, QStringLiteral("Port 6969 "), {}, true},
            {"server too long", {}, {}, QStringLiteral("could not be started"), {}, false, true},
        };
        for (const Case &c : cases) {
            qputenv("SSH_SAYS", c.says);
            qputenv("SSH_EXITS", c.exits);
            qputenv("ZENTREL_START_DEADLINE_MS", c.startDeadlineMs);
            QTcpServer other;
            QVERIFY(!c.portTaken || other.listen(QHostAddress::LocalHostIPv6, 6969));
            AppDelegate delegate;
            launchConfigured(delegate);
            if (c.serverTooLong)
                delegate.settingsStore().setText(SettingsKeys::server, QString(1 << 20, 'x'));
            AlertCatcher catcher;
            delegate.connect();
            QTRY_COMPARE(catcher.alerts().size(), 1);
            QVERIFY2(catcher.said().startsWith(QLatin1String("SSH Error: ")) &&
                         catcher.said().contains(c.alert),
                     qPrintable(catcher.said()));
            QVERIFY(catcher.alerts()[0].icon == QMessageBox::Critical && catcher.alerts()[0].modal);
            // The proxy was off, its record gone and the menu disconnected before the alert
            // showed; with the port taken, nothing ran at all.
            QCOMPARE(looks(delegate), QStringLiteral("Connect | Not connected"));
            QVERIFY(!QFile::exists(TunnelRecordFile().path()));
            QVERIFY2(c.portTaken ? log().isEmpty() : log().endsWith(QLatin1String("off end\n")),
                     c.what);
            QTest::qWait(100);
            QCOMPARE(catcher.alerts().size(), 1);
        }
    }

    void requestsNeverNestAndSshThatIgnoresTerminationIsKilled() {
        // Both proxy commands fail: one warning, not modal, listing both. Connect, Disconnect
        // and Quit chosen while it is open run one after another.
        qputenv("PROXY_FAILS", "1");
        qputenv("SSH_STUBBORN", "1");
        AppDelegate delegate;
        launchConfigured(delegate);
        AlertCatcher catcher;
        catcher.setDismissing(false);
        delegate.connect();
        delegate.connect();
        QTRY_COMPARE(catcher.alerts().size(), 1);
        const AlertCatcher::Alert warning = catcher.alerts().constFirst();
        QVERIFY(!warning.modal && warning.icon == QMessageBox::Warning);
        QVERIFY2(warning.informativeText.count(QLatin1String("no proxy for")) == 2,
                 qPrintable(warning.informativeText));
        QVERIFY(delegate.connected()); // the tunnel still serves applications set up by hand
        QVERIFY(delegate.sshCommand() && sshReady());
        const pid_t ssh = delegate.sshCommand()->pid();

        delegate.disconnect();
        delegate.connect();
        delegate.quit();
        // SIGTERM is not heeded: ssh is killed once its grace is over, and without an alert.
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QStringLiteral("/proc/%1").arg(ssh)), 10000);
        // The quit waits until the warning that the proxy is still on has been read.
        QApplication::setQuitOnLastWindowClosed(false);
        catcher.setDismissing(true);
        QTimer::singleShot(20000, &catcher, [] { QApplication::exit(1); }); // the quit never came
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(log().count(QLatin1String("setsocksfirewallproxy Wi-Fi localhost")), 2);
        QCOMPARE(runShellCommand(QStringLiteral("pgrep -fc '%1'").arg(sshPattern()))->readToEnd(),
                 QByteArray("0\n"));
        // Switching off failed: the record stays for the next launch and the login check.
        const std::optional<TunnelRecord> left = TunnelRecordFile().load().record;
        QVERIFY(left && left->proxySwitchedOn && !left->ssh);
        QCOMPARE(recoveryFor(left), Recovery::SwitchOff);
        QVERIFY2(!catcher.said().contains(QLatin1String("SSH Error")) &&
                     catcher.said().contains(QLatin1String("tries again to switch it off")),
                 qPrintable(catcher.said()));
    }

    void withoutAServiceOnlyTheProxyIsLeftAlone() {
        AlertCatcher catcher;
        qputenv("SERVICES", "");
        AppDelegate delegate;
        launchConfigured(delegate);
        delegate.connect();
        QVERIFY(sshReady());
        delegate.disconnect();
        QTRY_VERIFY(delegate.connection().isIdle());
        QVERIFY(!log().contains(QLatin1String("-setsocks")));
        QTRY_VERIFY2(catcher.alerts().size() == 1 && !catcher.alerts()[0].modal &&
                         catcher.said().contains(QLatin1String("localhost:6969")),
                     qPrintable(catcher.said()));
    }

private:
    // Our ssh stand-ins, not another test's.
    QString sshPattern() const {
        return QStringLiteral("^/bin/bash %1/ssh -NTCD").arg(m_environment.binDirectory());
    }
    QString runLog() const { return m_environment.path(QStringLiteral("run.log")); }
    QString log() const { return QString::fromUtf8(TestEnvironment::readFile(runLog())); }
    // The stand-in has set its trap: from now on it sees SIGTERM.
    bool sshReady() const {
        return QTest::qWaitFor([this] { return log().contains(sshStarted); });
    }
    // The menu's entry and the state the tooltip tells, as the user sees them.
    static QString looks(const AppDelegate &delegate) {
        return delegate.menu->connectionItem().title + QStringLiteral(" | ") +
               delegate.statusItem->toolTip().remove(QStringLiteral("Zentrel VPN \u2014 "));
    }

    void launchConfigured(AppDelegate &delegate) {
        delegate.settingsStore().setText(SettingsKeys::username, QStringLiteral("demo"));
        delegate.settingsStore().setText(SettingsKeys::server, QStringLiteral("127.0.0.1"));
        delegate.applicationDidFinishLaunching();
        QTRY_VERIFY(delegate.connection().isIdle());
        // The service's detection (once, then kept) is not what these check.
        delegate.loadSettings();
        QFile::remove(runLog());
    }

    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(ConnectionTest, QApplication)
#include "tst_connection.moc"
