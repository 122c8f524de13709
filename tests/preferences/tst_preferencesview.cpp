#include "CommandPreview.h"
#include "PreferencesView.h"
#include "SettingsKeys.h"
#include "SettingsStore.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTextDocument>

class PreferencesViewTest : public QObject {
    Q_OBJECT

public:
    explicit PreferencesViewTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    // Every case on screen at the window's width, from an empty store on disk.
    void init() {
        m_view.reset(); // before the store it edits
        QFile::remove(SettingsStore().location());
        m_environment.installTool(
            QStringLiteral("networksetup"),
            "printf '%s\\n' '(1) Ethernet' '(Hardware Port: Ethernet, Device: eth0)'"
            " '' '(2) Wi-Fi' '(Hardware Port: Wi-Fi, Device: wlan0)'"
            " '' '(3) USB 10/100 LAN' '(Hardware Port: USB, Device: usb0)'\n");
        m_store = std::make_unique<SettingsStore>();
        m_writes = 0;
        connect(m_store.get(), &SettingsStore::changed, this, [this] { ++m_writes; });
        m_view = std::make_unique<PreferencesView>(*m_store);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void freshStoreShowsTheDefaultsAndWritesNothing() {
        const QString server = m_view->defaultServer();
        QVERIFY(!server.isEmpty());
        using Row = std::tuple<const char *, QString, QString>; // field, text, placeholder
        for (const auto &[name, text, placeholder] :
             {Row{"username", "", currentLoginName()}, Row{"server", "", server},
              Row{"port", "6969", "6969"}, Row{"privateKeyFile", "", "/etc/ssh/id_rsa"}}) {
            QCOMPARE(control(name)->text(), text);
            QCOMPARE(control(name)->placeholderText(), placeholder);
        }
        QVERIFY(control<QRadioButton>("defaultPrivateKey")->isChecked());
        // Empty user and server show the form's stand-ins.
        QCOMPARE(preview(),
                 QStringLiteral("networksetup -setsocksfirewallproxy \"Wi-Fi\" localhost 6969;\n"
                                "networksetup -setsocksfirewallproxystate \"Wi-Fi\" on;\n"
                                "ssh -NTCD6969 -o ControlPath=none -o ExitOnForwardFailure=yes "
                                "-o ServerAliveInterval=10 %1@%2;")
                     .arg(currentLoginName(), server));
        QCOMPARE(m_writes, 0);

        // A long server scrolls in the preview instead of widening the form.
        const int width = m_view->minimumSizeHint().width();
        m_store->setText(SettingsKeys::server, QString(80, QLatin1Char('a')));
        QCOMPARE(m_view->minimumSizeHint().width(), width);
        QCOMPARE(control<QPlainTextEdit>("commandPreviewText")->document()->lineCount(), 3);
    }

    void tabOrderFollowsTheRows() {
        QStringList order;
        for (QWidget *at = control("username"); order.size() < 7; at = at->nextInFocusChain())
            if (at->focusPolicy() & Qt::TabFocus)
                order << at->objectName();
        QCOMPARE(order, QStringList({"username", "server", "port", "defaultPrivateKey",
                                     "customPrivateKey", "privateKeyFile", "networkService"}));
    }

    // Each keystroke is stored, down to the empty field; control characters are dropped and the
    // length is capped, so that a field shows exactly what is stored.
    void fieldsStoreEveryKeystrokeButNoControlsNorEndlessText() {
        QTest::mouseClick(control<QRadioButton>("customPrivateKey"), Qt::LeftButton);
        const auto paste = [](QLineEdit *field, const QString &text) {
            field->setFocus();
            field->selectAll();
            QGuiApplication::clipboard()->setText(text);
            QTest::keySequence(field, QKeySequence::Paste);
        };
        using Row = std::tuple<QLatin1String, QString, QString>; // field, pasted, kept
        for (const auto &[key, pasted, kept] :
             {Row{SettingsKeys::username, QString::fromUtf8("de\0mo\n", 6), "demo"},
              Row{SettingsKeys::server, "\x1b[1mvpn.example.com\r\n", "[1mvpn.example.com"},
              Row{SettingsKeys::privateKeyFile, QString(5000, 'k'), QString(4096, 'k')}}) {
            QLineEdit *edit = control(key.data());
            QTest::keyClicks(edit, QStringLiteral("a"));
            QCOMPARE(stored(key), QStringLiteral("a"));
            QTest::keyClick(edit, Qt::Key_Backspace);
            QCOMPARE(stored(key), QString());
            paste(edit, pasted);
            QCOMPARE(edit->text(), kept);
            QCOMPARE(stored(key), kept);
        }
        paste(control("port"), QStringLiteral("80\t80\n"));
        QCOMPARE(m_store->integer(SettingsKeys::port), std::optional<qint64>(8080));
    }

    void privateKeyChoiceControlsThePathField() {
        auto *standard = control<QRadioButton>("defaultPrivateKey");
        auto *custom = control<QRadioButton>("customPrivateKey");
        QLineEdit *path = control("privateKeyFile");
        QTest::mouseClick(custom, Qt::LeftButton);
        QCOMPARE(stored(SettingsKeys::privateKey), QStringLiteral("custom"));
        QTest::keyClicks(path, QStringLiteral("/k/id"));
        QVERIFY(preview().endsWith(QStringLiteral(" -i /k/id;")));

        QTest::mouseClick(standard, Qt::LeftButton);
        QCOMPARE(stored(SettingsKeys::privateKey), QStringLiteral("default"));
        QVERIFY(!path->isEnabled());
        QCOMPARE(path->text(), QStringLiteral("/k/id"));
        QCOMPARE(stored(SettingsKeys::privateKeyFile), QStringLiteral("/k/id"));
        QVERIFY(!preview().contains(QStringLiteral(" -i ")));

        // Text that is neither choice (only possible from outside the form) chooses neither.
        m_store->setText(SettingsKeys::privateKey, QStringLiteral("Default"));
        QVERIFY(!standard->isChecked() && !custom->isChecked() && path->isEnabled());
    }

    void networkServiceChoices() {
        auto *combo = control<QComboBox>("networkService");
        QCOMPARE(combo->count(), 3);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(stored(SettingsKeys::networkService), QStringLiteral("USB 10/100 LAN"));

        // A service that is not listed shows no choice and stays stored.
        m_store->setText(SettingsKeys::networkService, QStringLiteral("Bluetooth PAN"));
        QCOMPARE(combo->currentIndex(), -1);
        QVERIFY(preview().contains(QStringLiteral("\"Bluetooth PAN\" on;")));

        // Discovery finding nothing offers one empty item.
        m_environment.installTool(QStringLiteral("networksetup"), "exit 0\n");
        PreferencesView empty(*m_store);
        combo = empty.findChild<QComboBox *>(QStringLiteral("networkService"));
        QVERIFY(combo && combo->count() == 1 && combo->itemText(0).isEmpty());
    }

    void outsideChangesShowWithoutDisturbingTyping() {
        QLineEdit *username = control("username");
        username->setFocus();
        QTest::keyClicks(username, QStringLiteral("demo"));
        username->setCursorPosition(2);
        m_store->setText(SettingsKeys::server, QStringLiteral("198.51.100.7"));
        QCOMPARE(control("server")->text(), QStringLiteral("198.51.100.7"));
        QCOMPARE(username->cursorPosition(), 2);
        QTest::keyClicks(username, QStringLiteral("X"));
        QVERIFY(preview().endsWith(QStringLiteral("=10 deXmo@198.51.100.7;")));

        // The port stores whole numbers only; half-typed text stays while other keys change,
        // leaving the field shows the stored port again, and a new port always shows.
        QLineEdit *port = control("port");
        port->setFocus();
        port->selectAll();
        QTest::keyClicks(port, QStringLiteral("8080x"));
        m_store->setText(SettingsKeys::server, QStringLiteral("example.net"));
        QCOMPARE(port->text(), QStringLiteral("8080x"));
        port->selectAll();
        QTest::keyClick(port, Qt::Key_Delete);
        QCOMPARE(m_store->integer(SettingsKeys::port), std::optional<qint64>(8080));
        emit port->editingFinished();
        QCOMPARE(port->text(), QStringLiteral("8080"));
        m_store->setInteger(SettingsKeys::port, 0); // shown as stored, here and in the preview
        QCOMPARE(port->text(), QStringLiteral("0"));
        QVERIFY(preview().contains(QLatin1String(" localhost 0;\n")));
    }

private:
    // Controls are named after the settings key they edit.
    template <typename Control = QLineEdit> Control *control(const char *name) const {
        auto *found = m_view->findChild<Control *>(QLatin1String(name));
        if (!found)
            qFatal("no control named %s", name);
        return found;
    }

    QString preview() const { return control<CommandPreview>("commandPreview")->commands(); }

    QString stored(QLatin1String key) const {
        return m_store->text(key).value_or(QStringLiteral("<absent>"));
    }

    TestEnvironment &m_environment;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<PreferencesView> m_view;
    int m_writes = 0;
};

ZENTREL_TEST_MAIN(PreferencesViewTest, QApplication)
#include "tst_preferencesview.moc"
