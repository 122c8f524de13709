#include "AppDelegate.h"
#include "MainMenu.h"
#include "PreferencesWindow.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"
#include "TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <csignal>

// The preferences window and the status menu meet only through the settings store.
class PreferencesFlowTest : public QObject {
    Q_OBJECT

public:
    explicit PreferencesFlowTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void initTestCase() {
        m_environment.installTool(QStringLiteral("networksetup"), "exit 0\n");
        m_environment.installTool(QStringLiteral("ssh"), "exec sleep 60\n");
    }

    void withoutATrayThePreferencesWindowOpens() {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        delegate.reportMissingTray();
        QVERIFY(delegate.preferencesWindow->isVisible());
        auto *notice = delegate.preferencesWindow->findChild<QMessageBox *>();
        QVERIFY(notice && notice->isVisible() && !notice->isModal()); // the form stays usable
        QVERIFY(notice->text().contains(QLatin1String("no system tray")));
    }

    void quitFromTheWindowLeavesTheTunnelRunning() {
        pid_t ssh;
        {
            AppDelegate delegate;
            delegate.settingsStore().setText(SettingsKeys::server, QStringLiteral("example.org"));
            delegate.applicationDidFinishLaunching();
            delegate.connect();
            QTRY_VERIFY(delegate.connected());
            ssh = delegate.sshCommand()->pid();
            auto *mainMenu = delegate.preferencesWindow->findChild<MainMenu *>();
            QVERIFY(mainMenu);
            QTimer::singleShot(0, mainMenu->quitAction(), &QAction::trigger);
            QCOMPARE(QApplication::exec(), 0);
        }
        // The delegate is gone; ssh is not: it sleeps on, neither ended nor a zombie.
        QTest::qWait(100);
        QVERIFY(
            TestEnvironment::readFile(QStringLiteral("/proc/%1/stat").arg(ssh)).contains(") S "));
        kill(ssh, SIGTERM);
    }

private:
    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(PreferencesFlowTest, QApplication)
#include "tst_preferencesflow.moc"
