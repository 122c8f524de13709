#include "SettingsKeys.h"
#include "SettingsStore.h"
#include "TestEnvironment.h"

#include <QSettings>
#include <QSignalSpy>

class SettingsStoreTest : public QObject {
    Q_OBJECT

public:
    explicit SettingsStoreTest(TestEnvironment &) {}

private slots:
    void init() {
        // Start every case from an empty store on disk.
        QFile::remove(SettingsStore().location());
    }

    void everyWriteSignalsIsOnDiskAndSurvivesAFreshStore() {
        const QString awkward = QStringLiteral("a, b \"c\" ; $HOME =x [y] ü\n2nd line");
        {
            SettingsStore store;
            QVERIFY(!store.text(SettingsKeys::server) && !store.integer(SettingsKeys::port));
            QSignalSpy changed(&store, &SettingsStore::changed);
            store.setText(SettingsKeys::server, QString());
            store.setText(SettingsKeys::networkService, awkward);
            store.setInteger(SettingsKeys::port, -5);
            store.setInteger(SettingsKeys::port, -5); // the same value still counts
            QCOMPARE(changed.count(), 4);
            // On disk as soon as the event loop turns, without anyone asking.
            QTRY_VERIFY(TestEnvironment::readFile(store.location()).contains("port=-5"));
        }
        SettingsStore reopened;
        QCOMPARE(reopened.text(SettingsKeys::server), std::optional<QString>(QString()));
        QVERIFY(!reopened.text(SettingsKeys::username));
        QCOMPARE(reopened.text(SettingsKeys::networkService), std::optional<QString>(awkward));
        QCOMPARE(reopened.integer(SettingsKeys::port), std::optional<qint64>(-5));
    }

    void crossTypeReads() {
        SettingsStore store;
        store.setInteger(SettingsKeys::server, 42);
        QCOMPARE(store.text(SettingsKeys::server), std::optional<QString>(QStringLiteral("42")));
        for (const auto &[text, expected] :
             {std::pair<QString, qint64>{"8080", 8080}, {" 1080 ", 1080}, {"12abc", 0}}) {
            store.setText(SettingsKeys::port, text);
            QCOMPARE(store.integer(SettingsKeys::port), std::optional<qint64>(expected));
        }
        // A list, as another writer may leave in the file, reads as the text written there.
        QSettings(store.location(), QSettings::IniFormat)
            .setValue(QStringLiteral("server"), QStringList{"a", "b"});
        QCOMPARE(SettingsStore().text(SettingsKeys::server),
                 std::optional<QString>(QStringLiteral("a,b")));
    }
};

ZENTREL_TEST_MAIN(SettingsStoreTest, QCoreApplication)
#include "tst_settingsstore.moc"
