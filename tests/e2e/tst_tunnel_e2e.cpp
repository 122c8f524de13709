#include "AlertCatcher.h"
#include "AppDelegate.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"
#include "StatusMenu.h"

#include <QApplication>
#include <QFile>
#include <QtTest>

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
} // namespace

// The application's real connect and disconnect, through the real OpenSSH client and server,
// our own networksetup and the real gsettings.
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

        m_delegate.settingsStore().setText(SettingsKeys::server, QStringLiteral("127.0.0.1"));
        m_delegate.applicationDidFinishLaunching();
        QCOMPARE(*m_delegate.networkService, QStringLiteral("Wi-Fi"));
    }

    void trafficGoesThroughTheTunnel() {
        AlertCatcher catcher;
        m_delegate.connect();
        QTRY_VERIFY_WITH_TIMEOUT(socksPortAccepts(), 15000);
        QCOMPARE(fetchThroughTunnel(), QStringLiteral("through the tunnel"));
        QCOMPARE(desktopProxy(), QStringLiteral("'manual'\n'localhost'\n6969"));
        QVERIFY(m_delegate.connected);

        m_delegate.disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(!socksPortAccepts(), 10000);
        QCOMPARE(desktopProxy(), m_before);
        QTest::qWait(200);
        QVERIFY2(catcher.alerts().isEmpty(), qPrintable(catcher.alerts().value(0).informativeText));
    }

    void refusedKeyEndsInTheAlert() {
        QFile::rename(work(QStringLiteral("authorized_keys")),
                      work(QStringLiteral("authorized_keys.off")));
        AlertCatcher catcher;
        m_delegate.connect();
        QTRY_COMPARE_WITH_TIMEOUT(catcher.alerts().size(), 1, 15000);
        QFile::rename(work(QStringLiteral("authorized_keys.off")),
                      work(QStringLiteral("authorized_keys")));

        QCOMPARE(catcher.alerts()[0].text, QStringLiteral("SSH Error"));
        QVERIFY2(catcher.alerts()[0].informativeText.contains(QLatin1String("Permission denied")),
                 qPrintable(catcher.alerts()[0].informativeText));
        QVERIFY(!m_delegate.connected);
        QCOMPARE(m_delegate.menu->connectionItem().title, QStringLiteral("Connect"));
        QCOMPARE(desktopProxy(), m_before);
    }

    void stoppedServerEndsInTheAlert() {
        AlertCatcher catcher;
        m_delegate.connect();
        QTRY_VERIFY_WITH_TIMEOUT(socksPortAccepts(), 15000);
        QCOMPARE(fetchThroughTunnel(), QStringLiteral("through the tunnel"));

        run(QStringLiteral("pkill -x sshd; pkill -f 'sshd: '"));
        QTRY_COMPARE_WITH_TIMEOUT(catcher.alerts().size(), 1, 15000);
        QCOMPARE(catcher.alerts()[0].text, QStringLiteral("SSH Error"));
        QVERIFY(!m_delegate.connected);
        QCOMPARE(desktopProxy(), m_before);
        QVERIFY(!socksPortAccepts());
        run(QFile::decodeName(qgetenv("ZENTREL_SSHD")));
    }

private:
    AppDelegate m_delegate;
    QString m_before;
};

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    TunnelEndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_tunnel_e2e.moc"
