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

    void madeHiddenWithFixedWidth() {
        QVERIFY(!m_window->isVisible());
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Zentrel VPN Preferences"));
        QCOMPARE(m_window->width(), 400);
        QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
        QVERIFY(m_window->height() >= m_window->view().minimumSizeHint().height());
        const Qt::WindowFlags flags = m_window->windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(!QFile::exists(m_store->location()));
    }

    void openCentresAndClosingOnlyHides() {
        const QPointer<QWidget> window = m_window.get();
        const QPointer<QWidget> view = &m_window->view();
        openAndActivate();
        QVERIFY(isCentred());

        m_window->move(3, 4);
        QCOMPARE(m_window->pos(), QPoint(3, 4));
        m_window->open();
        QVERIFY(isCentred());

        QVERIFY(!m_window->close());
        QVERIFY(!m_window->isVisible());
        QVERIFY(window && view);

        openAndActivate();
        m_window->move(10, 10);
        QTest::keyClick(m_window->focusWidget(), Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!m_window->isVisible());
        QVERIFY(window && view);

        // The same window and form come back, centred again.
        openAndActivate();
        QVERIFY(isCentred());
        QCOMPARE(&m_window->view(), view.data());
    }

    void tabOrderFollowsTheRows() {
        openAndActivate();
        field("username")->setFocus();
        QStringList order;
        QWidget *current = field("username");
        for (int i = 0; i < 6; ++i) {
            order << current->objectName();
            current = current->nextInFocusChain();
            while (!(current->focusPolicy() & Qt::TabFocus))
                current = current->nextInFocusChain();
        }
        QCOMPARE(order, QStringList({"username", "server", "port", "defaultPrivateKey",
                                     "customPrivateKey", "privateKeyFile"}));
        QCOMPARE(current->objectName(), QStringLiteral("networkService"));
    }

    void editingShortcutsActOnTheFocusedField() {
        openAndActivate();
        QLineEdit *server = field("server");
        server->setFocus();
        QTest::keyClicks(server, QStringLiteral("example.org"));

        QTest::keyClick(server, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(server->selectedText(), QStringLiteral("example.org"));
        QTest::keyClick(server, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(server->text(), QString());
        QCOMPARE(m_store->text(SettingsKeys::server), std::optional<QString>(QString()));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("example.org"));

        QTest::keyClick(server, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_store->text(SettingsKeys::server), std::optional<QString>("example.org"));
        QTest::keyClick(server, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_store->text(SettingsKeys::server),
                 std::optional<QString>("example.orgexample.org"));

        QGuiApplication::clipboard()->clear();
        QTest::keyClick(server, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(server, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("example.orgexample.org"));

        // The menu's own actions reach the focused field too (as a menu click would).
        QLineEdit *username = field("username");
        username->setFocus();
        QTest::keyClicks(username, QStringLiteral("demo"));
        m_menu->selectAllAction()->trigger();
        QCOMPARE(username->selectedText(), QStringLiteral("demo"));
        m_menu->cutAction()->trigger();
        QCOMPARE(m_store->text(SettingsKeys::username), std::optional<QString>(QString()));
        m_menu->pasteAction()->trigger();
        m_menu->pasteAction()->trigger();
        QCOMPARE(m_store->text(SettingsKeys::username), std::optional<QString>("demodemo"));
        m_menu->selectAllAction()->trigger();
        QGuiApplication::clipboard()->clear();
        m_menu->copyAction()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("demodemo"));
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
