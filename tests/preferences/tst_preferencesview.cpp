#include "CommandLines.h"
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

namespace {
const QByteArray serviceOrder =
    "printf '%s\\n' '(1) Ethernet' '(Hardware Port: Ethernet, Device: eth0)'"
    " '' '(2) Wi-Fi' '(Hardware Port: Wi-Fi, Device: wlan0)'"
    " '' '(3) USB 10/100 LAN' '(Hardware Port: USB, Device: usb0)'\n";

QString expectedPreview(const QString &service, const QString &port, const QString &destination) {
    return QStringLiteral("networksetup -setsocksfirewallproxy \"%1\" localhost %2;\n"
                          "networksetup -setsocksfirewallproxystate \"%1\" on;\n"
                          "ssh -NTCD%2 -o ControlPath=none -o ExitOnForwardFailure=yes "
                          "-o ServerAliveInterval=10 %3;")
        .arg(service, port, destination);
}

QString stored(const SettingsStore &store, QLatin1String key) {
    return store.text(key).value_or(QStringLiteral("<absent>"));
}
} // namespace

// Widgets are named after the settings key they edit; one that is not found fails the test.
#define FIND(variable, Type, view, name)                                                           \
    variable = (view).findChild<Type *>(QLatin1String(name));                                      \
    QVERIFY2(variable, name)

class PreferencesViewTest : public QObject {
    Q_OBJECT

public:
    explicit PreferencesViewTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    // Every case on screen at the window's width, from an empty store on disk.
    void init() {
        QFile::remove(SettingsStore().location());
        m_environment.installTool(QStringLiteral("networksetup"), serviceOrder);
        m_store = std::make_unique<SettingsStore>();
        m_writes = 0;
        connect(m_store.get(), &SettingsStore::changed, this, [this] { ++m_writes; });
        m_view = std::make_unique<PreferencesView>(*m_store);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_fields.clear();
        for (const QLatin1String key : {SettingsKeys::username, SettingsKeys::server,
                                        SettingsKeys::port, SettingsKeys::privateKeyFile}) {
            FIND(m_fields[key], QLineEdit, *m_view, key.data());
        }
        FIND(m_defaultKey, QRadioButton, *m_view, "defaultPrivateKey");
        FIND(m_customKey, QRadioButton, *m_view, "customPrivateKey");
        FIND(m_service, QComboBox, *m_view, "networkService");
        m_preview = m_view->findChild<CommandPreview *>();
        QVERIFY(m_preview);
    }

    void cleanup() {
        m_view.reset();
        m_store.reset();
    }

    void freshStoreShowsTheDefaultsAndWritesNothing() {
        const PreferencesView &view = *m_view;
        QVERIFY(!view.defaultServer().isEmpty());
        using Row = std::tuple<QLatin1String, QString, QString>; // field, text, placeholder
        for (const auto &[key, text, placeholder] :
             {Row{SettingsKeys::username, "", currentLoginName()},
              Row{SettingsKeys::server, "", view.defaultServer()},
              Row{SettingsKeys::port, "6969", "6969"},
              Row{SettingsKeys::privateKeyFile, "", "/etc/ssh/id_rsa"}}) {
            QCOMPARE(field(key)->text(), text);
            QCOMPARE(field(key)->placeholderText(), placeholder);
        }
        QVERIFY(m_defaultKey->isChecked());
        QVERIFY(!field(SettingsKeys::privateKeyFile)->isEnabled());
        // Empty user and server show the form's stand-ins.
        QCOMPARE(m_preview->commands(),
                 expectedPreview("Wi-Fi", "6969", currentLoginName() + '@' + view.defaultServer()));
        QCOMPARE(m_writes, 0);
        QVERIFY(!QFile::exists(m_store->location()));
    }

    void aLongServerScrollsInThePreviewInsteadOfWideningTheForm() {
        const int width = m_view->minimumSizeHint().width();
        m_store->setText(SettingsKeys::server, QString(80, QLatin1Char('a')));
        QCOMPARE(m_view->minimumSizeHint().width(), width);
        const auto *text = m_preview->findChild<QPlainTextEdit *>();
        QVERIFY(text);
        QCOMPARE(text->document()->lineCount(), 3);
    }

    void textFieldsStoreEveryKeystroke() {
        SettingsStore &store = *m_store;
        for (const QLatin1String key : {SettingsKeys::username, SettingsKeys::server}) {
            QStringList seen;
            const auto watch = connect(&store, &SettingsStore::changed, this,
                                       [&, key] { seen << stored(store, key); });
            QLineEdit *edit = field(key);
            QTest::keyClicks(edit, QStringLiteral("ab"));
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClick(edit, Qt::Key_Backspace);
            disconnect(watch);
            QCOMPARE(seen, QStringList({"a", "ab", "a", ""}));
        }
    }

    void fieldsTakeNoControlsAndNoEndlessText() {
        SettingsStore &store = *m_store;
        QTest::mouseClick(m_customKey, Qt::LeftButton);
        auto paste = [](QLineEdit *field, const QString &text) {
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
            QLineEdit *edit = field(key);
            paste(edit, pasted);
            QCOMPARE(edit->text(), kept);
            QCOMPARE(stored(store, key), kept);
        }
        // A full field takes no more.
        QTest::keyClicks(field(SettingsKeys::privateKeyFile), QStringLiteral("x"));
        QCOMPARE(stored(store, SettingsKeys::privateKeyFile), QString(4096, 'k'));
        paste(field(SettingsKeys::port), QStringLiteral("80\t80\n"));
        QCOMPARE(store.integer(SettingsKeys::port), std::optional<qint64>(8080));
    }

    void privateKeyChoiceControlsThePathField() {
        SettingsStore &store = *m_store;
        QLineEdit *path = field(SettingsKeys::privateKeyFile);

        QTest::mouseClick(m_customKey, Qt::LeftButton);
        QCOMPARE(stored(store, SettingsKeys::privateKey), QStringLiteral("custom"));
        QVERIFY(path->isEnabled());
        QTest::keyClicks(path, QStringLiteral("/k/id"));
        QVERIFY(m_preview->commands().endsWith(QStringLiteral(" -i /k/id;")));

        QTest::mouseClick(m_defaultKey, Qt::LeftButton);
        QCOMPARE(stored(store, SettingsKeys::privateKey), QStringLiteral("default"));
        QVERIFY(!path->isEnabled());
        QCOMPARE(path->text(), QStringLiteral("/k/id"));
        QCOMPARE(stored(store, SettingsKeys::privateKeyFile), QStringLiteral("/k/id"));
        QVERIFY(!m_preview->commands().contains(QStringLiteral(" -i ")));

        // Text that is neither choice (only possible from outside the form) chooses neither.
        store.setText(SettingsKeys::privateKey, QStringLiteral("Default"));
        QVERIFY(!m_defaultKey->isChecked());
        QVERIFY(!m_customKey->isChecked());
        QVERIFY(path->isEnabled());
    }

    void portStoresOnlyWholeNumbers() {
        SettingsStore &store = *m_store;
        QLineEdit *port = field(SettingsKeys::port);
        port->setFocus();
        port->selectAll();
        QTest::keyClicks(port, QStringLiteral("8080"));
        QCOMPARE(store.integer(SettingsKeys::port), std::optional<qint64>(8080));

        // Letters, or an empty field, leave the stored port; leaving the field shows it again.
        QTest::keyClicks(port, QStringLiteral("x"));
        QCOMPARE(store.integer(SettingsKeys::port), std::optional<qint64>(8080));
        port->selectAll();
        QTest::keyClick(port, Qt::Key_Delete);
        QCOMPARE(store.integer(SettingsKeys::port), std::optional<qint64>(8080));
        emit port->editingFinished();
        QCOMPARE(port->text(), QStringLiteral("8080"));
    }

    void networkServiceChoices() {
        SettingsStore &store = *m_store;
        QComboBox *combo = m_service;
        QCOMPARE(combo->count(), 3);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(stored(store, SettingsKeys::networkService), QStringLiteral("USB 10/100 LAN"));

        // A service that is not listed shows no choice and stays stored.
        store.setText(SettingsKeys::networkService, QStringLiteral("Bluetooth PAN"));
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(stored(store, SettingsKeys::networkService), QStringLiteral("Bluetooth PAN"));
        QVERIFY(m_preview->commands().contains(QStringLiteral("\"Bluetooth PAN\" on;")));

        // Discovery finding nothing offers one empty item.
        m_environment.installTool(QStringLiteral("networksetup"), "exit 0\n");
        PreferencesView empty(store);
        FIND(combo, QComboBox, empty, SettingsKeys::networkService.data());
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->itemText(0), QString());
    }

    void outsideChangesShowWithoutDisturbingTyping() {
        SettingsStore &store = *m_store;
        QLineEdit *username = field(SettingsKeys::username);
        username->setFocus();
        QTest::keyClicks(username, QStringLiteral("demo"));
        username->setCursorPosition(2);
        store.setText(SettingsKeys::server, QStringLiteral("198.51.100.7"));
        QCOMPARE(field(SettingsKeys::server)->text(), QStringLiteral("198.51.100.7"));
        QCOMPARE(username->cursorPosition(), 2);
        QTest::keyClicks(username, QStringLiteral("X"));
        QVERIFY(m_preview->commands().endsWith(QStringLiteral("=10 deXmo@198.51.100.7;")));

        // Half-typed port text stays while other keys change, but a new port shows.
        QLineEdit *port = field(SettingsKeys::port);
        port->setFocus();
        port->end(false);
        QTest::keyClicks(port, QStringLiteral("z"));
        store.setText(SettingsKeys::server, QStringLiteral("example.net"));
        QCOMPARE(port->text(), QStringLiteral("6969z"));
        store.setInteger(SettingsKeys::port, 0); // shown as stored, here and in the preview
        QCOMPARE(port->text(), QStringLiteral("0"));
        QVERIFY(m_preview->commands().contains(QLatin1String(" localhost 0;\n")));
    }

private:
    QLineEdit *field(QLatin1String key) const { return m_fields.value(key); }

    TestEnvironment &m_environment;
    QHash<QString, QLineEdit *> m_fields;
    QRadioButton *m_defaultKey = nullptr;
    QRadioButton *m_customKey = nullptr;
    QComboBox *m_service = nullptr;
    CommandPreview *m_preview = nullptr;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<PreferencesView> m_view;
    int m_writes = 0;
};

ZENTREL_TEST_MAIN(PreferencesViewTest, QApplication)
#include "tst_preferencesview.moc"
