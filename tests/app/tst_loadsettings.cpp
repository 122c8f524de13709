#include "AppDelegate.h"
#include "CommandLines.h"
#include "PreferencesWindow.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QLineEdit>

class LoadSettingsTest : public QObject {
    Q_OBJECT

public:
    explicit LoadSettingsTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void init() {
        QFile::remove(SettingsStore().location());
        QFile::remove(detectionLog());
        // Counts every run of the detection pipeline.
        m_environment.installTool(
            QStringLiteral("networksetup"),
            "echo run >> '" + QFile::encodeName(detectionLog()) +
                "'\n"
                "printf '%s\\n' '(1) Ethernet' '(Hardware Port: Ethernet, Device: eth0)' ''"
                " '(2) Wi-Fi' '(Hardware Port: Wi-Fi, Device: wlan0)'\n");
    }

    void freshStoreGivesTheDelegateDefaults() {
        AppDelegate delegate;
        QVERIFY(!delegate.username && !delegate.server && !delegate.port && !delegate.privateKey &&
                !delegate.privateKeyFile && !delegate.networkService);
        QVERIFY(!delegate.connected());

        delegate.loadSettings();
        QCOMPARE(*delegate.username, currentLoginName());
        QVERIFY(!delegate.username->isEmpty());
        QCOMPARE(*delegate.server, QString());
        QCOMPARE(*delegate.port, 6969);
        QCOMPARE(*delegate.privateKey, QStringLiteral("default"));
        QCOMPARE(*delegate.privateKeyFile, QString());
        QCOMPARE(*delegate.networkService, QStringLiteral("Wi-Fi"));
        QCOMPARE(delegate.sshKeyArgument(), QString());

        // Loading never writes a default back.
        QVERIFY(!QFile::exists(delegate.settingsStore().location()));
    }

    void storedValuesAndTheirFallbacks() {
        AppDelegate delegate;
        SettingsStore &store = delegate.settingsStore();
        store.setText(SettingsKeys::username, QString());
        store.setText(SettingsKeys::server, QStringLiteral(" "));
        store.setText(SettingsKeys::privateKey, QStringLiteral("Default"));
        store.setText(SettingsKeys::privateKeyFile, QStringLiteral("/k"));

        const QList<QPair<QVariant, qint64>> ports = {{0, 6969},
                                                      {-5, -5},
                                                      {70000, 70000},
                                                      {QStringLiteral("abc"), 6969},
                                                      {QStringLiteral("2222"), 2222}};
        for (const auto &[stored, loaded] : ports) {
            if (stored.typeId() == QMetaType::QString)
                store.setText(SettingsKeys::port, stored.toString());
            else
                store.setInteger(SettingsKeys::port, stored.toLongLong());
            delegate.loadSettings();
            QCOMPARE(*delegate.port, loaded);
        }
        QCOMPARE(*delegate.username, currentLoginName());
        QCOMPARE(*delegate.server, QStringLiteral(" "));
        QCOMPARE(delegate.sshKeyArgument(), QStringLiteral(" -i /k"));
        QCOMPARE(tunnelCommand(delegate.tunnelSettings()),
                 QStringLiteral("ssh -NTCD2222 \"%1@ \" -i /k").arg(currentLoginName()));
    }

    void detectionRunsOnlyWhileNoServiceIsStoredAndOnceUntilTheNetworkChanges() {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        delegate.openPreferencesWindow();
        // The form lists the services and, with none stored, detects one for its preview; the
        // delegate shares both answers.
        QCOMPARE(detections(), 2);
        delegate.loadSettings();
        QCOMPARE(*delegate.networkService, QStringLiteral("Wi-Fi"));
        auto *server = delegate.preferencesWindow->findChild<QLineEdit *>(QStringLiteral("server"));
        QVERIFY(server);
        QTest::keyClicks(server, QStringLiteral("vpn"));
        QCOMPARE(*delegate.server, QStringLiteral("vpn"));
        delegate.loadSettings();
        QCOMPARE(detections(), 2);

        // A way out appears: the next load detects again, and only that one.
        if (!inPrivateNetwork())
            QSKIP("needs a network namespace of its own, as CTest runs it (unshare --net)");
        auto route =
            runShellCommand(QStringLiteral("ip link set lo up && ip route add default dev lo"));
        route->waitForExit();
        QCOMPARE(route->exitCode(), std::optional<int>(0));
        QTRY_COMPARE((delegate.loadSettings(), detections()), 3);
        QTest::keyClicks(server, QStringLiteral("x"));
        delegate.loadSettings();
        QCOMPARE(detections(), 3);

        delegate.settingsStore().setText(SettingsKeys::networkService, QString());
        delegate.loadSettings();
        QCOMPARE(*delegate.networkService, QString());
        delegate.settingsStore().setText(SettingsKeys::networkService, QStringLiteral("Ethernet"));
        delegate.loadSettings();
        QCOMPARE(*delegate.networkService, QStringLiteral("Ethernet"));
        QCOMPARE(detections(), 3);
    }

private:
    // Nothing but loopback: a network namespace of our own, whose routes a test may change.
    static bool inPrivateNetwork() {
        const QList<QByteArray> lines =
            TestEnvironment::readFile(QStringLiteral("/proc/self/net/dev")).split('\n');
        for (const QByteArray &line : lines.mid(2))
            if (line.contains(':') && line.left(line.indexOf(':')).trimmed() != "lo")
                return false;
        return true;
    }
    // How often a listing pipeline ran.
    int detections() const { return int(TestEnvironment::readFile(detectionLog()).count("run\n")); }
    QString detectionLog() const { return m_environment.path(QStringLiteral("detections")); }

    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(LoadSettingsTest, QApplication)
#include "tst_loadsettings.moc"
