#include "MainMenu.h"
#include "PreferencesView.h"
#include "PreferencesWindow.h"
#include "SettingsKeys.h"
#include "SettingsStore.h"
#include "TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QTimer>

class PreferencesWindowTest : public QObject {
    Q_OBJECT

public:
    explicit PreferencesWindowTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void initTestCase() {
        QFile::remove(SettingsStore().location());
        m_environment.installTool(
            QStringLiteral("networksetup"),
            "printf '%s\\n' '(1) Wi-Fi' '(Hardware Port: Wi-Fi, Device: wlan0)'\n");
        m_store = std::make_unique<SettingsStore>();
        m_window = std::make_unique<PreferencesWindow>(*m_store);
        m_menu = installMainMenu(*m_window);
        // Any ambiguous shortcut would silently do nothing: make it fail instead.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("[Aa]mbiguous")));
    }

    void madeHiddenOpenCentresAndClosingOnlyHides() {
        QVERIFY(!m_window->isVisible());
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Zentrel VPN Preferences"));
        // The form is made on first need; the window then fits it.
        const QPointer<QWidget> view = &m_window->view();
        QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
        openAndActivate();
        QVERIFY(isCentred());
        m_window->move(3, 4);
        m_window->open();
        QVERIFY(isCentred());

        // close() and the Close shortcut hide; the same window and form come back.
        QVERIFY(!m_window->close());
        QVERIFY(!m_window->isVisible());
        openAndActivate();
        QTest::keyClick(m_window->focusWidget(), Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!m_window->isVisible());
        openAndActivate();
        QVERIFY(view && &m_window->view() == view.data());
    }

    void tabOrderFollowsTheRows() {
        openAndActivate();
        QStringList order;
        QWidget *current = field("username");
        QVERIFY(current);
        for (int i = 0; i < 7; ++i) {
            order << current->objectName();
            do
                current = current->nextInFocusChain();
            while (!(current->focusPolicy() & Qt::TabFocus));
        }
        QCOMPARE(order, QStringList({"username", "server", "port", "defaultPrivateKey",
                                     "customPrivateKey", "privateKeyFile", "networkService"}));
    }

    void editingShortcutsActOnTheFocusedField() {
        openAndActivate();
        QLineEdit *server = field("server");
        QVERIFY(server);
        server->setFocus();
        QTest::keyClicks(server, QStringLiteral("example.org"));
        const auto key = [server](Qt::Key letter) {
            QTest::keyClick(server, letter, Qt::ControlModifier);
        };

        key(Qt::Key_A);
        key(Qt::Key_X);
        QCOMPARE(m_store->text(SettingsKeys::server), std::optional<QString>(QString()));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("example.org"));
        key(Qt::Key_V);
        key(Qt::Key_V);
        QCOMPARE(m_store->text(SettingsKeys::server),
                 std::optional<QString>("example.orgexample.org"));
        QGuiApplication::clipboard()->clear();
        key(Qt::Key_A);
        key(Qt::Key_C);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("example.orgexample.org"));

        // The menu's own actions reach the focused field too (as a menu click would).
        QLineEdit *username = field("username");
        QVERIFY(username);
        username->setFocus();
        QTest::keyClicks(username, QStringLiteral("demo"));
        m_menu->selectAllAction()->trigger();
        m_menu->cutAction()->trigger();
        QCOMPARE(m_store->text(SettingsKeys::username), std::optional<QString>(QString()));
        m_menu->pasteAction()->trigger();
        m_menu->selectAllAction()->trigger();
        QGuiApplication::clipboard()->clear();
        m_menu->copyAction()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("demo"));
    }

    // Last: it ends the event loop this test runs.
    void quitEndsTheEventLoopWithTheWindowShown() {
        openAndActivate();
        QTimer::singleShot(0, m_window.get(), [this] {
            QTest::keyClick(m_window->focusWidget(), Qt::Key_Q, Qt::ControlModifier);
        });
        // Only a guard against hanging, should the shortcut not quit.
        QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(m_window->isVisible());
    }

private:
    void openAndActivate() {
        m_window->open();
        QVERIFY(m_window->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    bool isCentred() const {
        const QPoint screenCentre = m_window->screen()->availableGeometry().center();
        const QPoint windowCentre = m_window->frameGeometry().center();
        return (screenCentre - windowCentre).manhattanLength() <= 2;
    }

    QLineEdit *field(const char *name) const {
        return m_window->findChild<QLineEdit *>(QLatin1String(name));
    }

    TestEnvironment &m_environment;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<PreferencesWindow> m_window;
    MainMenu *m_menu = nullptr;
};

ZENTREL_TEST_MAIN(PreferencesWindowTest, QApplication)
#include "tst_preferenceswindow.moc"
