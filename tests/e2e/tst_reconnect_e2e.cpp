#include "AlertCatcher.h"
#include "AppDelegate.h"
#include "ConnectionController.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"
#include "StatusItem.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QRegularExpression>
#include <QtTest>

namespace {
QString run(const QString &commandLine) {
    return QString::fromUtf8(runShellCommand(commandLine)->readToEnd()).trimmed();
}

bool tunnelCarries() {
    return run(QStringLiteral("curl -sS --max-time 2 --socks5-hostname 127.0.0.1:6969 "
                              "http://127.0.0.1:8080/marker.txt 2>/dev/null")) ==
           QLatin1String("through the tunnel");
}

QString desktopProxy() {
    return run(QStringLiteral("gsettings get org.gnome.system.proxy mode"));
}

void netctl(const char *arguments) {
    auto command = runShellCommand(QStringLiteral("netctl ") + QLatin1String(arguments));
    command->waitForExit();
    QVERIFY2(command->exitCode() == 0, qPrintable(arguments + command->output()));
}

// The desktop notifications sent so far, as the stand-in notification server logged them.
QString notified() {
    return run(QStringLiteral(
        "gdbus call --session --dest org.freedesktop.Notifications --object-path "
        "/org/freedesktop/Notifications --method org.freedesktop.DBus.Mock.GetCalls 2>/dev/null"));
}

int sshCount() {
    return run(QStringLiteral("netctl ssh-count")).toInt();
}

const QString reconnecting = QStringLiteral("Zentrel VPN \u2014 Reconnecting\u2026");
} // namespace

// The tunnel kept up through what happens to a laptop: the link going and coming back, a new
// address, a server that stops answering, a resume from sleep, a route with two next hops. A
// client namespace (this test and the application) and a server namespace (sshd, and a page only
// the tunnel reaches), joined by a veth pair; a private system bus with a stand-in logind.
class ReconnectEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("ZENTREL_E2E_SERVER"), "run me in-network-sandbox");
        SettingsStore().setText(SettingsKeys::server, qEnvironmentVariable("ZENTREL_E2E_SERVER"));
        qputenv("ZENTREL_PROBE_INTERVAL_MS", "1500");
        // Never more than one ssh of ours, at any moment of any case.
        QObject::connect(&m_sampler, &QTimer::timeout, this,
                         [this] { m_mostSsh = qMax(m_mostSsh, sshCount()); });
        m_sampler.start(100);
    }

    void cleanupTestCase() {
        QCOMPARE(m_mostSsh, 1);
        // Checking the tunnel leaves nothing in the server's log: no connection of ours there.
        const QByteArray log = TestEnvironment::readFile(qEnvironmentVariable("ZENTREL_E2E_WORK") +
                                                         QStringLiteral("/sshd.log"));
        QVERIFY(log.contains("Accepted publickey"));
        QVERIFY2(!log.contains("connect_to"), log.constData());
    }

    void linkAddressSilenceAndResumeRestartTheTunnelUntilADisconnect() {
        // A notification server of the desktop's, which records what it is told.
        auto notifications = runShellCommand(
            QStringLiteral("exec /usr/bin/python3 -m dbusmock --template notification_daemon"));
        QTRY_VERIFY(notified().startsWith(QLatin1Char('(')));
        AppDelegate delegate;
        AlertCatcher catcher;
        connectTunnel(delegate);
        const pid_t ssh = delegate.sshCommand()->pid();

        netctl("link-down");
        QTRY_VERIFY(
            delegate.statusItem->toolTip().startsWith(reconnecting + QStringLiteral(" (since ")));
        QTest::qWait(3000);
        QCOMPARE(desktopProxy(), QStringLiteral("'manual'")); // nothing leaves outside the tunnel
        netctl("link-up");
        QTRY_VERIFY_WITH_TIMEOUT(tunnelCarries(), 20000);
        QVERIFY(delegate.sshCommand()->pid() != ssh);
        QTRY_VERIFY(delegate.statusItem->toolTip().contains(QLatin1String("Connected to")));
        // One notification for the drop and one for the return, not one for each try.
        QTRY_VERIFY_WITH_TIMEOUT(notified().count(QLatin1String("'Notify'")) >= 2, 10000);
        QTest::qWait(1000);
        QCOMPARE(notified().count(QLatin1String("'Notify'")), 2);
        QVERIFY2(notified().contains(QLatin1String("The tunnel dropped")) &&
                     notified().contains(QLatin1String("The tunnel is back")),
                 qPrintable(notified()));
        notifications->kill();
        notifications->waitForExit();
        // The round trip that the kernel measured on ssh's connection.
        QTRY_VERIFY_WITH_TIMEOUT(
            QRegularExpression(QStringLiteral(" \u2014 (under a minute|\\d+ min), \\d+ ms$"))
                .match(delegate.statusItem->toolTip())
                .hasMatch(),
            5000);

        restartsAfter(delegate, "move-address");
        restartsAfter(delegate, "move-address");

        netctl("server-silent on");
        QTRY_VERIFY_WITH_TIMEOUT(delegate.statusItem->toolTip().startsWith(reconnecting), 15000);
        netctl("server-silent off");
        QTRY_VERIFY_WITH_TIMEOUT(tunnelCarries(), 40000);
        restartsAfter(delegate, "resume");
        QVERIFY2(catcher.alerts().isEmpty(), qPrintable(catcher.alerts().value(0).informativeText));

        // A disconnect while the network is away stops the waiting: no ssh when it returns.
        netctl("link-down");
        QTRY_COMPARE(sshCount(), 0);
        delegate.disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(delegate.connection().isIdle() && !delegate.connected(), 15000);
        QCOMPARE(desktopProxy(), QStringLiteral("'none'"));
        netctl("link-up");
        QTest::qWait(2000);
        QCOMPARE(sshCount(), 0);
        QVERIFY(!delegate.connected());
    }

    // A default route with two next hops (a second uplink's) is a network past the wait limit;
    // a network away longer than that ends the tunnel.
    void aNetworkAwayTooLongEndsTheTunnel() {
        qputenv("ZENTREL_NETWORK_WAIT_LIMIT_MS", "2000");
        AppDelegate delegate;
        AlertCatcher catcher;
        connectTunnel(delegate);
        qunsetenv("ZENTREL_NETWORK_WAIT_LIMIT_MS");
        netctl("multipath");
        QTest::qWait(3000); // past the wait limit
        QTRY_VERIFY_WITH_TIMEOUT(tunnelCarries(), 20000);
        QVERIFY2(catcher.alerts().isEmpty(), qPrintable(catcher.alerts().value(0).informativeText));
        netctl("link-down"); // link-up brings back a single next hop
        QTRY_COMPARE_WITH_TIMEOUT(catcher.alerts().size(), 1, 15000);
        QCOMPARE(catcher.alerts()[0].text, QStringLiteral("SSH Error"));
        QVERIFY(!delegate.connected());
        QCOMPARE(desktopProxy(), QStringLiteral("'none'"));
        netctl("link-up");
    }

private:
    static void connectTunnel(AppDelegate &delegate) {
        delegate.applicationDidFinishLaunching();
        delegate.connect();
        QTRY_VERIFY_WITH_TIMEOUT(tunnelCarries(), 20000);
        QTRY_VERIFY(delegate.connection().isIdle());
        QCOMPARE(desktopProxy(), QStringLiteral("'manual'"));
    }

    // The tunnel's ssh is replaced after the change, and the new one carries.
    static void restartsAfter(AppDelegate &delegate, const char *change) {
        const pid_t ssh = delegate.sshCommand()->pid();
        netctl(change);
        QTRY_VERIFY_WITH_TIMEOUT(delegate.sshCommand()->pid() != ssh && tunnelCarries(), 20000);
    }

    QTimer m_sampler;
    int m_mostSsh = 0;
};

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    ReconnectEndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_reconnect_e2e.moc"
