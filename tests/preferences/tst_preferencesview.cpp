#include "CommandLines.h"
#include "CommandPreview.h"
#include "PreferencesView.h"
#include "SettingsKeys.h"
#include "SettingsStore.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
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

// Widgets are named after the settings key they edit.
template <typename T = QLineEdit> T *child(const QWidget &view, QLatin1String name) {
    auto *found = view.findChild<T *>(name);
    Q_ASSERT(found);
    return found;
}
QRadioButton *radio(const QWidget &view, const char *name) {
    return child<QRadioButton>(view, QLatin1String(name));
}
// What the user sees in the preview box.
QString previewText(const QWidget &view) {
    return view.findChild<CommandPreview *>()->commands();
}
QString stored(const SettingsStore &store, QLatin1String key) {
    return store.text(key).value_or(QStringLiteral("<absent>"));
}
int x(const QWidget &view, const QWidget *widget) {
    return widget->mapTo(&view, QPoint(0, 0)).x();
}
} // namespace

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
        m_view->resize(400, m_view->sizeHint().height());
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
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
            QCOMPARE(child(view, key)->text(), text);
            QCOMPARE(child(view, key)->placeholderText(), placeholder);
        }
        QVERIFY(radio(view, "defaultPrivateKey")->isChecked());
        QVERIFY(!child(view, SettingsKeys::privateKeyFile)->isEnabled());
        // Empty user and server show the form's stand-ins.
        QCOMPARE(previewText(view),
                 expectedPreview("Wi-Fi", "6969", currentLoginName() + '@' + view.defaultServer()));
        QCOMPARE(m_writes, 0);
        QVERIFY(!QFile::exists(m_store->location()));
    }

    void rowsAreLabelledAndAligned() {
        SettingsStore &store = *m_store;
        PreferencesView &view = *m_view;
        // Their texts, as a screen reader reads them, are in the desktop test.
        QCOMPARE(view.findChildren<QLabel *>().size(), 6);
        for (const QLabel *label : view.findChildren<QLabel *>())
            QVERIFY(label->alignment() & Qt::AlignRight);

        // The controls start on one line; the key path 19 further right.
        const int controls = x(view, child(view, SettingsKeys::username));
        for (const char *name :
             {"server", "port", "defaultPrivateKey", "customPrivateKey", "networkService"})
            QCOMPARE(x(view, child<QWidget>(view, QLatin1String(name))), controls);
        QCOMPARE(x(view, child(view, SettingsKeys::privateKeyFile)), controls + 19);

        // The preview is last; a long server scrolls inside it instead of widening the form.
        QVERIFY(view.findChild<CommandPreview *>()->y() >
                child<QWidget>(view, SettingsKeys::networkService)->y());
        store.setText(SettingsKeys::server, QString(80, QLatin1Char('a')));
        QVERIFY(view.minimumSizeHint().width() <= 400);
        QCOMPARE(view.findChild<QPlainTextEdit *>()->document()->lineCount(), 3);
    }

    void textFieldsStoreEveryKeystroke() {
        SettingsStore &store = *m_store;
        PreferencesView &view = *m_view;
        for (const QLatin1String key : {SettingsKeys::username, SettingsKeys::server}) {
            QStringList seen;
            const auto watch = connect(&store, &SettingsStore::changed, this,
                                       [&, key] { seen << stored(store, key); });
            QLineEdit *field = child(view, key);
            QTest::keyClicks(field, QStringLiteral("ab"));
            QTest::keyClick(field, Qt::Key_Backspace);
            QTest::keyClick(field, Qt::Key_Backspace);
            disconnect(watch);
            QCOMPARE(seen, QStringList({"a", "ab", "a", ""}));
        }
    }

    void fieldsTakeNoControlsAndNoEndlessText() {
        SettingsStore &store = *m_store;
        PreferencesView &view = *m_view;
        QTest::mouseClick(radio(view, "customPrivateKey"), Qt::LeftButton);
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
            QLineEdit *field = child(view, key);
            paste(field, pasted);
            QCOMPARE(field->text(), kept);
            QCOMPARE(stored(store, key), kept);
        }
        // A full field takes no more.
        QTest::keyClicks(child(view, SettingsKeys::privateKeyFile), QStringLiteral("x"));
        QCOMPARE(stored(store, SettingsKeys::privateKeyFile), QString(4096, 'k'));
        paste(child(view, SettingsKeys::port), QStringLiteral("80\t80\n"));
        QCOMPARE(store.integer(SettingsKeys::port), std::optional<qint64>(8080));
    }

    void privateKeyChoiceControlsThePathField() {
        SettingsStore &store = *m_store;
        PreferencesView &view = *m_view;
        QLineEdit *path = child(view, SettingsKeys::privateKeyFile);

        QTest::mouseClick(radio(view, "customPrivateKey"), Qt::LeftButton);
        QCOMPARE(stored(store, SettingsKeys::privateKey), QStringLiteral("custom"));
        QVERIFY(path->isEnabled());
        QTest::keyClicks(path, QStringLiteral("/k/id"));
        QVERIFY(previewText(view).endsWith(QStringLiteral(" -i /k/id;")));

        QTest::mouseClick(radio(view, "defaultPrivateKey"), Qt::LeftButton);
        QCOMPARE(stored(store, SettingsKeys::privateKey), QStringLiteral("default"));
        QVERIFY(!path->isEnabled());
        QCOMPARE(path->text(), QStringLiteral("/k/id"));
        QCOMPARE(stored(store, SettingsKeys::privateKeyFile), QStringLiteral("/k/id"));
        QVERIFY(!previewText(view).contains(QStringLiteral(" -i ")));

        // Text that is neither choice (only possible from outside the form) chooses neither.
        store.setText(SettingsKeys::privateKey, QStringLiteral("Default"));
        QVERIFY(!radio(view, "defaultPrivateKey")->isChecked());
        QVERIFY(!radio(view, "customPrivateKey")->isChecked());
        QVERIFY(path->isEnabled());
    }

    void portStoresOnlyWholeNumbers() {
        SettingsStore &store = *m_store;
        PreferencesView &view = *m_view;
        QLineEdit *port = child(view, SettingsKeys::port);
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
        PreferencesView &view = *m_view;
        auto *combo = child<QComboBox>(view, SettingsKeys::networkService);
        QCOMPARE(combo->count(), 3);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(stored(store, SettingsKeys::networkService), QStringLiteral("USB 10/100 LAN"));

        // A service that is not listed shows no choice and stays stored.
        store.setText(SettingsKeys::networkService, QStringLiteral("Bluetooth PAN"));
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(stored(store, SettingsKeys::networkService), QStringLiteral("Bluetooth PAN"));
        QVERIFY(previewText(view).contains(QStringLiteral("\"Bluetooth PAN\" on;")));

        // Discovery finding nothing offers one empty item.
        m_environment.installTool(QStringLiteral("networksetup"), "exit 0\n");
        PreferencesView empty(store);
        combo = child<QComboBox>(empty, SettingsKeys::networkService);
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->itemText(0), QString());
    }

    void outsideChangesShowWithoutDisturbingTyping() {
        SettingsStore &store = *m_store;
        PreferencesView &view = *m_view;
        QLineEdit *username = child(view, SettingsKeys::username);
        username->setFocus();
        QTest::keyClicks(username, QStringLiteral("demo"));
        username->setCursorPosition(2);
        store.setText(SettingsKeys::server, QStringLiteral("198.51.100.7"));
        QCOMPARE(child(view, SettingsKeys::server)->text(), QStringLiteral("198.51.100.7"));
        QCOMPARE(username->cursorPosition(), 2);
        QTest::keyClicks(username, QStringLiteral("X"));
        QVERIFY(previewText(view).endsWith(QStringLiteral("=10 deXmo@198.51.100.7;")));

        // Half-typed port text stays while other keys change, but a new port shows.
        QLineEdit *port = child(view, SettingsKeys::port);
        port->setFocus();
        port->end(false);
        QTest::keyClicks(port, QStringLiteral("z"));
        store.setText(SettingsKeys::server, QStringLiteral("example.net"));
        QCOMPARE(port->text(), QStringLiteral("6969z"));
        store.setInteger(SettingsKeys::port, 0); // shown as stored, here and in the preview
        QCOMPARE(port->text(), QStringLiteral("0"));
        QVERIFY(previewText(view).contains(QLatin1String(" localhost 0;\n")));
    }

private:
    TestEnvironment &m_environment;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<PreferencesView> m_view;
    int m_writes = 0;
};

ZENTREL_TEST_MAIN(PreferencesViewTest, QApplication)
#include "tst_preferencesview.moc"
