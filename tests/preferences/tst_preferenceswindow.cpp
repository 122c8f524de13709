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
        m_environment.installTool(QStringLiteral("networksetup"), "exit 0\n");
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
        QVERIFY(!m_window->close() && !m_window->isVisible());
        openAndActivate();
        QTest::keyClick(m_window->focusWidget(), Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!m_window->isVisible());
        openAndActivate();
        QVERIFY(view && &m_window->view() == view.data());
    }

    // As keys, then as the menu's own actions (as a menu click would).
    void editingCommandsActOnTheFocusedField() {
        openAndActivate();
        QLineEdit *server = m_window->findChild<QLineEdit *>(QStringLiteral("server"));
        QVERIFY(server);
        server->setFocus();
        for (const bool byMenu : {false, true}) {
            const auto command = [&](QAction *action, Qt::Key key) {
                if (byMenu)
                    action->trigger();
                else
                    QTest::keyClick(server, key, Qt::ControlModifier);
            };
            command(m_menu->selectAllAction(), Qt::Key_A);
            QTest::keyClicks(server, QStringLiteral("example.org"));
            command(m_menu->selectAllAction(), Qt::Key_A);
            command(m_menu->cutAction(), Qt::Key_X);
            QCOMPARE(m_store->text(SettingsKeys::server), std::optional<QString>(QString()));
            QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("example.org"));
            command(m_menu->pasteAction(), Qt::Key_V);
            command(m_menu->pasteAction(), Qt::Key_V);
            QCOMPARE(m_store->text(SettingsKeys::server),
                     std::optional<QString>("example.orgexample.org"));
            QGuiApplication::clipboard()->clear();
            command(m_menu->selectAllAction(), Qt::Key_A);
            command(m_menu->copyAction(), Qt::Key_C);
            QCOMPARE(QGuiApplication::clipboard()->text(),
                     QStringLiteral("example.orgexample.org"));
        }
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
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    bool isCentred() const {
        const QPoint screenCentre = m_window->screen()->availableGeometry().center();
        const QPoint windowCentre = m_window->frameGeometry().center();
        return (screenCentre - windowCentre).manhattanLength() <= 2;
    }

    TestEnvironment &m_environment;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<PreferencesWindow> m_window;
    MainMenu *m_menu = nullptr;
};

ZENTREL_TEST_MAIN(PreferencesWindowTest, QApplication)
#include "tst_preferenceswindow.moc"
