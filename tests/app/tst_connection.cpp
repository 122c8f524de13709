#include "AlertCatcher.h"
#include "AppDelegate.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"
#include "StatusItem.h"
#include "StatusMenu.h"
#include "TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QTimer>

namespace {
// Stand-ins that log what runs, in order, to $RUN_LOG. The proxy commands take a moment, so a
// caller that does not wait for them would be seen starting the next step too early.
const QByteArray networksetupStandIn = R"(
echo "networksetup $* begin" >> "$RUN_LOG"
if [ "$1" = -listnetworkserviceorder ]; then
    printf '%s\n' '(1) Wi-Fi' '(Hardware Port: Wi-Fi, Device: wlan0)'
elif [ "$3" = off ]; then
    # The tunnel must have been told to stop before the proxy goes off.
    for i in $(seq 50); do grep -q '^ssh terminated' "$RUN_LOG" && break; sleep 0.02; done
fi
sleep 0.1
echo "networksetup $* end" >> "$RUN_LOG"
)";
const QByteArray sshStandIn = R"(
echo "ssh $* started" >> "$RUN_LOG"
trap 'echo "ssh terminated" >> "$RUN_LOG"; exit 143' TERM
[ -n "$SSH_SAYS" ] && printf "$SSH_SAYS" >&2
[ -n "$SSH_EXITS" ] && exit "$SSH_EXITS"
sleep 60 & wait
)";
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
        QFile::remove(runLog());
        qunsetenv("SSH_SAYS");
        qunsetenv("SSH_EXITS");
    }

    void launchAndSettingsChangesShapeTheMenu() {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        QCOMPARE(delegate.menu->actions().size(), 4);
        QCOMPARE(item(delegate).title, QStringLiteral("Not Configured"));
        QVERIFY(!delegate.menu->connectionAction()->isEnabled());
        QCOMPARE(delegate.statusItem->opacity(), 0.5);
        QCOMPARE(delegate.statusItem->toolTip(),
                 QStringLiteral("Zentrel VPN \u2014 Not configured"));
        QVERIFY(!QFile::exists(delegate.settingsStore().location())); // launch writes nothing

        delegate.settingsStore().setText(SettingsKeys::server, QStringLiteral(" "));
        QCOMPARE(item(delegate).title, QStringLiteral("Connect"));
        QCOMPARE(delegate.statusItem->toolTip(),
                 QStringLiteral("Zentrel VPN \u2014 Not connected"));

        delegate.connect();
        QCOMPARE(item(delegate).title, QStringLiteral("Disconnect"));
        QCOMPARE(delegate.statusItem->opacity(), 1.0);
        const QString connectedTip =
            QStringLiteral("Zentrel VPN \u2014 Connected to %1@  (port 6969)")
                .arg(*delegate.username);
        QCOMPARE(delegate.statusItem->toolTip(), connectedTip);
        // The tooltip names the running tunnel, not what the form says now.
        delegate.settingsStore().setText(SettingsKeys::server, QString());
        QCOMPARE(item(delegate).title, QStringLiteral("Disconnect"));
        QCOMPARE(delegate.statusItem->opacity(), 1.0);
        QCOMPARE(delegate.statusItem->toolTip(), connectedTip);
        QCOMPARE(*delegate.server, QString()); // reloaded all the same

        delegate.disconnect();
        QCOMPARE(item(delegate).title, QStringLiteral("Connect"));
        QCOMPARE(delegate.statusItem->opacity(), 0.5);
        QCOMPARE(delegate.statusItem->toolTip(),
                 QStringLiteral("Zentrel VPN \u2014 Not connected"));
        delegate.settingsStore().setInteger(SettingsKeys::port, 1080);
        QCOMPARE(item(delegate).title, QStringLiteral("Not Configured"));
        QCOMPARE(delegate.statusItem->toolTip(),
                 QStringLiteral("Zentrel VPN \u2014 Not configured"));
    }

    void connectWaitsForTheProxyAndDisconnectStopsSshFirst() {
        AppDelegate delegate;
        launchConfigured(delegate);
        delegate.connect();
        QVERIFY(delegate.connected);
        QTRY_VERIFY(log().contains(QLatin1String("ssh -NTCD6969 demo@127.0.0.1 started")));
        delegate.disconnect();
        QVERIFY(!delegate.connected);

        QCOMPARE(
            log().split(QLatin1Char('\n'), Qt::SkipEmptyParts),
            (QStringList{
                QStringLiteral("networksetup -setsocksfirewallproxy Wi-Fi localhost 6969 begin"),
                QStringLiteral("networksetup -setsocksfirewallproxy Wi-Fi localhost 6969 end"),
                QStringLiteral("networksetup -setsocksfirewallproxystate Wi-Fi on begin"),
                QStringLiteral("networksetup -setsocksfirewallproxystate Wi-Fi on end"),
                QStringLiteral("ssh -NTCD6969 demo@127.0.0.1 started"),
                QStringLiteral("ssh terminated"),
                QStringLiteral("networksetup -setsocksfirewallproxystate Wi-Fi off begin"),
                QStringLiteral("networksetup -setsocksfirewallproxystate Wi-Fi off end"),
            }));

        // A service picked while connected takes over at the next connect; the proxy that was
        // switched on is the one switched off.
        delegate.connect();
        delegate.settingsStore().setText(SettingsKeys::networkService, QStringLiteral("Ethernet"));
        QFile::remove(runLog());
        delegate.disconnect();
        QVERIFY(log().contains(QLatin1String("-setsocksfirewallproxystate Wi-Fi off end")));
        QVERIFY(!log().contains(QLatin1String("Ethernet")));
        delegate.connect();
        QVERIFY(log().contains(QLatin1String("-setsocksfirewallproxystate Ethernet on end")));
        delegate.disconnect();

        // Disconnecting again repeats every step on the ended process.
        QFile::remove(runLog());
        delegate.disconnect();
        QVERIFY(log().contains(QLatin1String("Ethernet off end")));
    }

    void sshOutputDecidesAboutTheTunnel() {
        struct Case {
            const char *what;
            QByteArray says;
            QByteArray exits;
            QString alert; // empty: stays connected without an alert
        };
        const QList<Case> cases = {
            {"channel message", "channel 3: open failed: administratively prohibited\\n", {}, {}},
            {"blanks before channel", "\\n  channel 3: x\\nbad: second line\\n", {}, {}},
            {"only line feeds", "\\n\\n", {}, {}},
            {"capital Channel", "Channel 3: x\\n", {}, QStringLiteral("Channel 3: x")},
            {"bare channel", "channel\\n", {}, QStringLiteral("channel")},
            {"multi-line error", "  ssh: connect to host x: refused\\nsecond line\\n", "255",
             QStringLiteral("ssh: connect to host x: refused\nsecond line")},
            {"silent exit", {}, "255", QStringLiteral("ssh exited with status 255")},
            {"dies after a channel message", "channel 1: x\\n", "1", QStringLiteral("status 1")},
        };
        for (const Case &c : cases) {
            qputenv("SSH_SAYS", c.says);
            qputenv("SSH_EXITS", c.exits);
            AppDelegate delegate;
            launchConfigured(delegate);
            AlertCatcher catcher;
            delegate.connect();
            if (c.alert.isEmpty()) {
                QTest::qWait(400);
                QVERIFY2(delegate.connected, c.what);
                QVERIFY2(catcher.alerts().isEmpty(), c.what);
                delegate.disconnect();
                QTest::qWait(100); // ssh's end after our own disconnect raises nothing
                QVERIFY2(catcher.alerts().isEmpty(), c.what);
                continue;
            }
            QTRY_COMPARE(catcher.alerts().size(), 1);
            const AlertCatcher::Alert &alert = catcher.alerts().constFirst();
            QCOMPARE(alert.text, QStringLiteral("SSH Error"));
            QVERIFY2(alert.informativeText.contains(c.alert), qPrintable(alert.informativeText));
            QCOMPARE(alert.icon, QMessageBox::Critical);
            QCOMPARE(alert.buttons, QStringList{QStringLiteral("OK")});
            // The proxy was off and the menu disconnected before the alert showed.
            QVERIFY2(!delegate.connected, c.what);
            QVERIFY(log().contains(QLatin1String("Wi-Fi off end")));
            QCOMPARE(item(delegate).title, QStringLiteral("Connect"));
            QTest::qWait(100);
            QCOMPARE(catcher.alerts().size(), 1);
        }
    }

    void failedProxyCommandIsShown() {
        m_environment.installTool(QStringLiteral("networksetup"),
                                  "echo 'No desktop proxy settings were found.' >&2; exit 1\n");
        AppDelegate delegate;
        launchConfigured(delegate);
        AlertCatcher catcher;
        delegate.connect();
        m_environment.installTool(QStringLiteral("networksetup"), networksetupStandIn);
        QVERIFY(delegate.connected); // the tunnel still serves applications set up by hand
        QCOMPARE(catcher.alerts().size(), 2);
        QVERIFY(catcher.alerts()[0].informativeText.contains(
            QLatin1String("No desktop proxy settings")));
        QCOMPARE(catcher.alerts()[0].icon, QMessageBox::Warning);
        delegate.disconnect();
    }

    void quitFromTheStatusMenuDisconnectsFirst() {
        AppDelegate delegate;
        launchConfigured(delegate);
        delegate.menu->quitAction()->trigger(); // not connected: runs nothing
        QVERIFY(!log().contains(QLatin1String("networksetup -setsocks")));

        delegate.connect();
        QTRY_VERIFY(log().contains(QLatin1String("started")));
        const pid_t ssh = delegate.sshCommand->pid();
        delegate.openPreferencesWindow(); // an open window must not hold the quit up
        QTimer::singleShot(0, delegate.menu->quitAction(), &QAction::trigger);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(log().endsWith(QLatin1String("Wi-Fi off end\n")));
        QVERIFY(delegate.sshCommand->terminationRequested());
        QVERIFY(!delegate.connected);
        QTRY_VERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(ssh)));
    }

private:
    QString runLog() const { return m_environment.path(QStringLiteral("run.log")); }
    QString log() const { return QString::fromUtf8(TestEnvironment::readFile(runLog())); }
    static ConnectionItem item(const AppDelegate &delegate) {
        return delegate.menu->connectionItem();
    }

    void launchConfigured(AppDelegate &delegate) {
        delegate.settingsStore().setText(SettingsKeys::username, QStringLiteral("demo"));
        delegate.settingsStore().setText(SettingsKeys::server, QStringLiteral("127.0.0.1"));
        delegate.applicationDidFinishLaunching();
        QFile::remove(runLog()); // the launch's service detection is not what these check
    }

    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(ConnectionTest, QApplication)
#include "tst_connection.moc"
