#include "AppDelegate.h"
#include "PreferencesWindow.h"
#include "SettingsKeys.h"
#include "StatusMenu.h"
#include "TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QProcess>

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
        QSignalSpy writes(&delegate.settingsStore(), &SettingsStore::changed);
        delegate.loadSettings();
        QCOMPARE(*delegate.username, currentLoginName());
        QVERIFY(!delegate.username->isEmpty());
        QCOMPARE(*delegate.server, QString());
        QCOMPARE(*delegate.port, 6969);
        QCOMPARE(*delegate.privateKey, QStringLiteral("default"));
        QCOMPARE(*delegate.privateKeyFile, QString());
        QCOMPARE(*delegate.networkService, QStringLiteral("Wi-Fi"));
        QCOMPARE(writes.count(), 0); // no default written back

        // An empty user name, a stored 0 or text that is no number count as absent; anything
        // but exactly "default" is the custom key.
        SettingsStore &store = delegate.settingsStore();
        store.setText(SettingsKeys::username, QString());
        store.setText(SettingsKeys::privateKey, QStringLiteral("Default"));
        store.setText(SettingsKeys::privateKeyFile, QStringLiteral("/k"));
        for (const auto &[stored, loaded] :
             {std::pair<const char *, qint64>{"0", 6969}, {"-5", -5}, {"abc", 6969}}) {
            store.setText(SettingsKeys::port, QLatin1String(stored));
            delegate.loadSettings();
            QCOMPARE(*delegate.port, loaded);
        }
        QCOMPARE(*delegate.username, currentLoginName());
        QCOMPARE(delegate.sshKeyArgument(), QStringLiteral(" -i /k"));
    }

    void detectionRunsOnlyWhileNoServiceIsStoredAndOnceUntilTheNetworkChanges() {
        AppDelegate delegate;
        QSignalSpy writes(&delegate.settingsStore(), &SettingsStore::changed);
        delegate.applicationDidFinishLaunching();
        delegate.menu->preferencesAction()->trigger();
        QVERIFY(delegate.preferencesWindow->isVisible());
        QCOMPARE(writes.count(), 0); // neither writes anything
        // The form lists the services and, with none stored, detects one for its preview; the
        // delegate shares both answers.
        QCOMPARE(detections(), 2);
        delegate.loadSettings();
        QCOMPARE(*delegate.networkService, QStringLiteral("Wi-Fi"));
        auto *server = delegate.preferencesWindow->findChild<QLineEdit *>(QStringLiteral("server"));
        QVERIFY(server);
        QTest::keyClicks(server, QStringLiteral("vpn"));
        QCOMPARE(*delegate.server, QStringLiteral("vpn"));
        QCOMPARE(delegate.menu->connectionItem().title, QStringLiteral("Connect"));
        delegate.loadSettings();
        QCOMPARE(detections(), 2);

        // A way out appears: the next load detects again, and only that one.
        if (!inPrivateNetwork())
            QSKIP("needs a network namespace of its own, as CTest runs it (unshare --net)");
        const char *route = "ip link set lo up && ip route add default dev lo";
        QCOMPARE(QProcess::execute(QStringLiteral("sh"), {"-c", route}), 0);
        QTRY_COMPARE((delegate.loadSettings(), detections()), 3);
        QTest::keyClicks(server, QStringLiteral("x"));
        delegate.loadSettings();
        QCOMPARE(detections(), 3);

        for (const QString &stored : {QString(), QStringLiteral("Ethernet")}) {
            delegate.settingsStore().setText(SettingsKeys::networkService, stored);
            delegate.loadSettings();
            QCOMPARE(*delegate.networkService, stored);
        }
        QCOMPARE(detections(), 3);
    }

private:
    // Nothing but loopback: a network namespace of our own, whose routes a test may change.
    static bool inPrivateNetwork() {
        const QByteArray devices = TestEnvironment::readFile(QStringLiteral("/proc/self/net/dev"));
        return devices.count(':') == 1 && devices.contains(" lo:");
    }
    // How often a listing pipeline ran.
    int detections() const { return int(TestEnvironment::readFile(detectionLog()).count("run\n")); }
    QString detectionLog() const { return m_environment.path(QStringLiteral("detections")); }

    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(LoadSettingsTest, QApplication)
#include "tst_loadsettings.moc"
