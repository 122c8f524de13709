#include "AppDelegate.h"
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

    void defaultsAndFallbacks() {
        AppDelegate delegate;
        QVERIFY(!delegate.username && !delegate.server && !delegate.port && !delegate.privateKey &&
                !delegate.privateKeyFile && !delegate.networkService);
        delegate.loadSettings();
        QCOMPARE(*delegate.username, currentLoginName());
        QVERIFY(!delegate.username->isEmpty());
        QCOMPARE(*delegate.server, QString());
        QCOMPARE(*delegate.port, 6969);
        QCOMPARE(*delegate.privateKey, QStringLiteral("default"));
        QCOMPARE(*delegate.privateKeyFile, QString());
        QCOMPARE(*delegate.networkService, QStringLiteral("Wi-Fi"));
        QVERIFY(!QFile::exists(delegate.settingsStore().location())); // no default written back

        // An empty user name, a stored 0 or text that is no number count as absent; anything
        // but exactly "default" is the custom key.
        SettingsStore &store = delegate.settingsStore();
        store.setText(SettingsKeys::username, QString());
        store.setText(SettingsKeys::privateKey, QStringLiteral("Default"));
        store.setText(SettingsKeys::privateKeyFile, QStringLiteral("/k"));
        const QList<QPair<QVariant, qint64>> ports = {
            {0, 6969}, {-5, -5}, {QStringLiteral("abc"), 6969}};
        for (const auto &[stored, loaded] : ports) {
            if (stored.typeId() == QMetaType::QString)
                store.setText(SettingsKeys::port, stored.toString());
            else
                store.setInteger(SettingsKeys::port, stored.toLongLong());
            delegate.loadSettings();
            QCOMPARE(*delegate.port, loaded);
        }
        QCOMPARE(*delegate.username, currentLoginName());
        QCOMPARE(delegate.sshKeyArgument(), QStringLiteral(" -i /k"));
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
