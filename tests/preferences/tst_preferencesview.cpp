#include "CommandLines.h"
#include "CommandPreview.h"
#include "PreferencesView.h"
#include "SettingsKeys.h"
#include "SettingsStore.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextDocument>

namespace {
const QByteArray serviceOrder =
    "printf '%s\\n' '(1) Ethernet' '(Hardware Port: Ethernet, Device: eth0)'"
    " '' '(2) Wi-Fi' '(Hardware Port: Wi-Fi, Device: wlan0)'"
    " '' '(3) USB 10/100 LAN' '(Hardware Port: USB, Device: usb0)'\n";

QString expectedPreview(const QString &service, const QString &port, const QString &destination) {
    return QStringLiteral("networksetup -setsocksfirewallproxy \"%1\" localhost %2;\n"
                          "networksetup -setsocksfirewallproxystate \"%1\" on;\n"
                          "ssh -NTCD%2 %3;")
        .arg(service, port, destination);
}
} // namespace

class PreferencesViewTest : public QObject {
    Q_OBJECT

public:
    explicit PreferencesViewTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void init() {
        QFile::remove(SettingsStore().location());
        m_environment.installTool(QStringLiteral("networksetup"), serviceOrder);
    }

    void previewTextFollowsTheTemplates() {
        TunnelSettings settings{QStringLiteral("Wi-Fi"),  6969,
                                QStringLiteral("demo"),   QStringLiteral("198.51.100.7"),
                                QStringLiteral("custom"), QStringLiteral("/etc/ssh/id_rsa")};
        const QString user = QStringLiteral("login");
        const QString host = QStringLiteral("vpn.example.com");
        QCOMPARE(commandPreviewText(settings, user, host),
                 expectedPreview(QStringLiteral("Wi-Fi"), QStringLiteral("6969"),
                                 QStringLiteral("demo@198.51.100.7 -i /etc/ssh/id_rsa")));

        settings.privateKey = QStringLiteral("default");
        QVERIFY(commandPreviewText(settings, user, host)
                    .endsWith("\nssh -NTCD6969 demo@198.51.100.7;"));
        settings.privateKey = QStringLiteral("custom");
        settings.privateKeyFile.clear();
        QVERIFY(commandPreviewText(settings, user, host)
                    .endsWith("\nssh -NTCD6969 demo@198.51.100.7;"));
        // The same key argument as the real command, quoting included.
        settings.privateKeyFile = QStringLiteral("/keys/my key");
        QVERIFY(commandPreviewText(settings, user, host).endsWith(" -i '/keys/my key';"));

        // Empty user and server show the form's stand-ins; the port shows as stored.
        settings = TunnelSettings{QString(), 0, QString(), QString(), QStringLiteral("default"),
                                  QString()};
        QCOMPARE(commandPreviewText(settings, user, host),
                 expectedPreview(QString(), QStringLiteral("0"),
                                 QStringLiteral("login@vpn.example.com")));
        settings.port = -5;
        settings.username = QStringLiteral(" ");
        settings.server = QStringLiteral("host name");
        settings.networkService = QStringLiteral("USB 10/100 LAN");
        QCOMPARE(commandPreviewText(settings, user, host),
                 expectedPreview(QStringLiteral("USB 10/100 LAN"), QStringLiteral("-5"),
                                 QStringLiteral(" @host name")));
    }

    void freshStoreShowsTheDefaultsAndWritesNothing() {
        SettingsStore store;
        int writes = 0;
        connect(&store, &SettingsStore::changed, this, [&] { ++writes; });
        PreferencesView view(store);

        QCOMPARE(view.defaultUser(), currentLoginName());
        QCOMPARE(view.networkServices(),
                 QStringList({QStringLiteral("Ethernet"), QStringLiteral("Wi-Fi"),
                              QStringLiteral("USB 10/100 LAN")}));

        QCOMPARE(field(view, "username")->text(), QString());
        QCOMPARE(field(view, "username")->placeholderText(), currentLoginName());
        QCOMPARE(field(view, "server")->text(), QString());
        QCOMPARE(field(view, "server")->placeholderText(), view.defaultServer());
        QVERIFY(!view.defaultServer().isEmpty());
        QCOMPARE(field(view, "port")->text(), QStringLiteral("6969"));
        QCOMPARE(field(view, "port")->placeholderText(), QStringLiteral("6969"));
        QVERIFY(radio(view, "defaultPrivateKey")->isChecked());
        QVERIFY(!radio(view, "customPrivateKey")->isChecked());
        QCOMPARE(field(view, "privateKeyFile")->placeholderText(),
                 QStringLiteral("/etc/ssh/id_rsa"));
        QVERIFY(!field(view, "privateKeyFile")->isEnabled());
        QCOMPARE(services(view)->count(), 3);
        QCOMPARE(services(view)->currentText(), QStringLiteral("Wi-Fi"));
        QCOMPARE(previewText(view),
                 expectedPreview(QStringLiteral("Wi-Fi"), QStringLiteral("6969"),
                                 currentLoginName() + QStringLiteral("@") + view.defaultServer()));

        QCOMPARE(writes, 0);
        QVERIFY(!QFile::exists(store.location()));
    }

    void rowsAreLabelledAndAligned() {
        SettingsStore store;
        PreferencesView view(store);
        show(view);

        QStringList labels;
        for (const QLabel *label : view.findChildren<QLabel *>())
            labels << label->text();
        QCOMPARE(labels, QStringList({"Username:", "Server:", "Port:", "Private key:", " ",
                                      "Network service:"}));
        const QLabel *usernameLabel = view.findChildren<QLabel *>().constFirst();
        QVERIFY(usernameLabel->alignment() & Qt::AlignRight);
        QVERIFY(usernameLabel->width() >= 102);

        // The controls start on one line; the key path 19 further right.
        const int controls = x(view, field(view, "username"));
        QCOMPARE(x(view, field(view, "server")), controls);
        QCOMPARE(x(view, field(view, "port")), controls);
        QCOMPARE(x(view, radio(view, "defaultPrivateKey")), controls);
        QCOMPARE(x(view, radio(view, "customPrivateKey")), controls);
        QCOMPARE(x(view, services(view)), controls);
        QCOMPARE(x(view, field(view, "privateKeyFile")), controls + 19);
        QCOMPARE(field(view, "port")->width(), 50);
        QVERIFY(radio(view, "customPrivateKey")->y() > radio(view, "defaultPrivateKey")->y());

        // The preview is last, full width, at least 58 high, and never wraps.
        auto *preview = view.findChild<CommandPreview *>();
        QVERIFY(preview->y() > services(view)->y());
        QCOMPARE(preview->title(),
                 QStringLiteral("Zentrel VPN will run these commands when connecting:"));
        QVERIFY(preview->width() >= field(view, "username")->geometry().right() - controls);
        QVERIFY(preview->height() >= 58);
        auto *text = preview->findChild<QPlainTextEdit *>();
        QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByMouse);
        const QFontMetrics metrics(text->font());
        QCOMPARE(metrics.horizontalAdvance(QStringLiteral("iiii")),
                 metrics.horizontalAdvance(QStringLiteral("MMMM")));
        QVERIFY(text->font().pointSizeF() < view.font().pointSizeF());

        // A long server name scrolls sideways inside the box instead of widening the form.
        const int previewWidth = preview->width();
        store.setText(SettingsKeys::server,
                      QStringLiteral("a-rather-long-server-name.eu-central-1.example-hosting.net"));
        QCOMPARE(preview->width(), previewWidth);
        QVERIFY(view.minimumSizeHint().width() <= 400);
        QVERIFY(text->horizontalScrollBar()->maximum() > 0);
        QCOMPARE(text->document()->lineCount(), 3);
    }

    void textFieldsStoreEveryKeystroke() {
        SettingsStore store;
        PreferencesView view(store);
        show(view);
        QStringList stored;
        connect(&store, &SettingsStore::changed, this, [&] {
            stored << store.text(SettingsKeys::server).value_or(QStringLiteral("<absent>"));
        });

        QLineEdit *server = field(view, "server");
        QTest::keyClicks(server, QStringLiteral("ab"));
        QTest::keyClick(server, Qt::Key_Backspace);
        QTest::keyClick(server, Qt::Key_Backspace);
        QCOMPARE(stored, QStringList({"a", "ab", "a", ""}));
        QCOMPARE(store.text(SettingsKeys::server), std::optional<QString>(QString()));
        QVERIFY(previewText(view).endsWith(QLatin1Char('@') + view.defaultServer() + ';'));

        QLineEdit *username = field(view, "username");
        QTest::keyClicks(username, QStringLiteral("demo"));
        QCOMPARE(store.text(SettingsKeys::username), std::optional<QString>("demo"));
        QVERIFY(previewText(view).endsWith(QStringLiteral("demo@") + view.defaultServer() + ';'));
        username->selectAll();
        QTest::keyClick(username, Qt::Key_Delete);
        QCOMPARE(store.text(SettingsKeys::username), std::optional<QString>(QString()));
        QVERIFY(previewText(view).endsWith(currentLoginName() + '@' + view.defaultServer() + ';'));
        QCOMPARE(username->placeholderText(), currentLoginName());
    }

    void privateKeyChoiceControlsThePathField() {
        SettingsStore store;
        PreferencesView view(store);
        show(view);
        QLineEdit *path = field(view, "privateKeyFile");

        QTest::mouseClick(radio(view, "customPrivateKey"), Qt::LeftButton);
        QCOMPARE(store.text(SettingsKeys::privateKey), std::optional<QString>("custom"));
        QVERIFY(path->isEnabled());
        QTest::keyClicks(path, QStringLiteral("/k/id"));
        QCOMPARE(store.text(SettingsKeys::privateKeyFile), std::optional<QString>("/k/id"));
        QVERIFY(previewText(view).endsWith(QStringLiteral(" -i /k/id;")));

        QTest::mouseClick(radio(view, "defaultPrivateKey"), Qt::LeftButton);
        QCOMPARE(store.text(SettingsKeys::privateKey), std::optional<QString>("default"));
        QVERIFY(!path->isEnabled());
        QVERIFY(!radio(view, "customPrivateKey")->isChecked());
        QCOMPARE(path->text(), QStringLiteral("/k/id"));
        QCOMPARE(store.text(SettingsKeys::privateKeyFile), std::optional<QString>("/k/id"));
        QVERIFY(!previewText(view).contains(QStringLiteral(" -i ")));

        // Text that is neither choice (only possible from outside the form) chooses neither
        // and counts as a custom key.
        store.setText(SettingsKeys::privateKey, QStringLiteral("Default"));
        QVERIFY(!radio(view, "defaultPrivateKey")->isChecked());
        QVERIFY(!radio(view, "customPrivateKey")->isChecked());
        QVERIFY(path->isEnabled());
        QVERIFY(previewText(view).endsWith(QStringLiteral(" -i /k/id;")));
        QTest::mouseClick(radio(view, "customPrivateKey"), Qt::LeftButton);
        QCOMPARE(store.text(SettingsKeys::privateKey), std::optional<QString>("custom"));
        QVERIFY(radio(view, "customPrivateKey")->isChecked());
        QVERIFY(!radio(view, "defaultPrivateKey")->isChecked());
    }

    void portStoresOnlyWholeNumbers() {
        SettingsStore store;
        PreferencesView view(store);
        show(view);
        QLineEdit *port = field(view, "port");
        QList<qint64> stored;
        connect(&store, &SettingsStore::changed, this,
                [&] { stored << store.integer(SettingsKeys::port).value_or(-1); });

        // Committed at each keystroke that leaves a number in the field.
        port->setFocus();
        port->selectAll();
        QTest::keyClicks(port, QStringLiteral("8080"));
        QCOMPARE(stored, QList<qint64>({8, 80, 808, 8080}));
        QCOMPARE(previewText(view),
                 expectedPreview(QStringLiteral("Wi-Fi"), QStringLiteral("8080"),
                                 currentLoginName() + '@' + view.defaultServer()));

        QTest::keyClicks(port, QStringLiteral("x"));
        port->selectAll();
        QTest::keyClick(port, Qt::Key_Delete);
        QCOMPARE(stored.size(), 4);
        QCOMPARE(store.integer(SettingsKeys::port), std::optional<qint64>(8080));
        // Leaving the field shows the stored port again.
        emit port->editingFinished();
        QCOMPARE(port->text(), QStringLiteral("8080"));

        store.setInteger(SettingsKeys::port, 0);
        QCOMPARE(port->text(), QStringLiteral("0"));
        QVERIFY(previewText(view).contains(QStringLiteral(" localhost 0;\n")));
        QVERIFY(previewText(view).contains(QStringLiteral("\nssh -NTCD0 ")));
        store.setInteger(SettingsKeys::port, -5);
        QCOMPARE(port->text(), QStringLiteral("-5"));
    }

    void networkServicePopUp() {
        SettingsStore store;
        PreferencesView view(store);
        show(view);
        QComboBox *combo = services(view);
        QCOMPARE(combo->itemText(2), QStringLiteral("USB 10/100 LAN"));

        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(store.text(SettingsKeys::networkService),
                 std::optional<QString>("USB 10/100 LAN"));
        QVERIFY(previewText(view).startsWith(
            QStringLiteral("networksetup -setsocksfirewallproxy \"USB 10/100 LAN\" localhost")));

        // A service that is not listed shows no choice and stays stored.
        store.setText(SettingsKeys::networkService, QStringLiteral("Bluetooth PAN"));
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(store.text(SettingsKeys::networkService), std::optional<QString>("Bluetooth PAN"));
        QVERIFY(previewText(view).contains(QStringLiteral("\"Bluetooth PAN\" on;")));
        store.setText(SettingsKeys::networkService, QStringLiteral("Ethernet"));
        QCOMPARE(combo->currentIndex(), 0);
    }

    void discoveryFindingNothingOffersOneEmptyItem() {
        m_environment.installTool(QStringLiteral("networksetup"), "exit 0\n");
        SettingsStore store;
        PreferencesView view(store);
        QCOMPARE(view.networkServices(), QStringList({QString()}));
        QCOMPARE(services(view)->count(), 1);
        QCOMPARE(services(view)->itemText(0), QString());
        QVERIFY(previewText(view).startsWith(
            QStringLiteral("networksetup -setsocksfirewallproxy \"\" localhost 6969;")));
    }

    void outsideChangesShowWithoutDisturbingTyping() {
        SettingsStore store;
        PreferencesView view(store);
        show(view);

        QLineEdit *username = field(view, "username");
        username->setFocus();
        QTest::keyClicks(username, QStringLiteral("demo"));
        QTest::keyClick(username, Qt::Key_Left);
        QTest::keyClick(username, Qt::Key_Left);
        QCOMPARE(username->cursorPosition(), 2);

        store.setText(SettingsKeys::server, QStringLiteral("198.51.100.7"));
        store.setText(SettingsKeys::username, QStringLiteral("demo"));
        QCOMPARE(field(view, "server")->text(), QStringLiteral("198.51.100.7"));
        QCOMPARE(username->cursorPosition(), 2);
        QTest::keyClicks(username, QStringLiteral("X"));
        QCOMPARE(store.text(SettingsKeys::username), std::optional<QString>("deXmo"));
        QVERIFY(previewText(view).endsWith(QStringLiteral("\nssh -NTCD6969 deXmo@198.51.100.7;")));

        store.setText(SettingsKeys::privateKey, QStringLiteral("custom"));
        store.setText(SettingsKeys::privateKeyFile, QStringLiteral("/etc/ssh/id_rsa"));
        QVERIFY(radio(view, "customPrivateKey")->isChecked());
        QCOMPARE(field(view, "privateKeyFile")->text(), QStringLiteral("/etc/ssh/id_rsa"));
        QVERIFY(previewText(view).endsWith(
            QStringLiteral("\nssh -NTCD6969 deXmo@198.51.100.7 -i /etc/ssh/id_rsa;")));

        // Half-typed port text stays while other keys change, but a new port shows.
        QLineEdit *port = field(view, "port");
        port->setFocus();
        port->end(false);
        QTest::keyClicks(port, QStringLiteral("z"));
        store.setText(SettingsKeys::server, QStringLiteral("example.net"));
        QCOMPARE(port->text(), QStringLiteral("6969z"));
        store.setInteger(SettingsKeys::port, 2222);
        QCOMPARE(port->text(), QStringLiteral("2222"));
        QCOMPARE(store.text(SettingsKeys::username), std::optional<QString>("deXmo"));
    }

private:
    // Interaction as the user has it: on screen, at the window's width.
    static void show(PreferencesView &view) {
        view.resize(400, view.sizeHint().height());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    static QLineEdit *field(const PreferencesView &view, const char *name) {
        auto *found = view.findChild<QLineEdit *>(QLatin1String(name));
        Q_ASSERT(found);
        return found;
    }
    static QRadioButton *radio(const PreferencesView &view, const char *name) {
        auto *found = view.findChild<QRadioButton *>(QLatin1String(name));
        Q_ASSERT(found);
        return found;
    }
    static QComboBox *services(const PreferencesView &view) {
        return view.findChild<QComboBox *>(QStringLiteral("networkService"));
    }
    // What the user sees in the preview box.
    static QString previewText(const PreferencesView &view) {
        return view.findChild<CommandPreview *>()->commands();
    }
    static int x(const QWidget &view, const QWidget *widget) {
        return widget->mapTo(&view, QPoint(0, 0)).x();
    }

    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(PreferencesViewTest, QApplication)
#include "tst_preferencesview.moc"
