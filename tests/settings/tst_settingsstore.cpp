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

    void absentKeysAreAbsentAndValuesSurviveAFreshStore() {
        const QString awkward = QStringLiteral("a, b \"c\" ; $HOME =x [y] ü\n2nd line");
        {
            SettingsStore store;
            QVERIFY(!store.text(SettingsKeys::server) && !store.integer(SettingsKeys::port));
            store.setText(SettingsKeys::server, QString());
            store.setText(SettingsKeys::networkService, awkward);
            store.setInteger(SettingsKeys::port, -5);
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
        for (const auto &[text, expected] : {std::pair<QString, qint64>{"8080", 8080},
                                             {"-5", -5},
                                             {" 1080 ", 1080},
                                             {"abc", 0},
                                             {"", 0},
                                             {"12abc", 0}}) {
            store.setText(SettingsKeys::port, text);
            QCOMPARE(store.integer(SettingsKeys::port), std::optional<qint64>(expected));
        }

        // The same rules hold for what another writer left in the file.
        {
            QSettings file(store.location(), QSettings::IniFormat);
            file.setValue(QStringLiteral("port"), QStringLiteral("2222"));
            file.setValue(QStringLiteral("server"), QStringList{"a", "b"});
        }
        SettingsStore reopened;
        QCOMPARE(reopened.integer(SettingsKeys::port), std::optional<qint64>(2222));
        QCOMPARE(reopened.text(SettingsKeys::server),
                 std::optional<QString>(QStringLiteral("a,b")));
    }

    void everyWriteSignalsOnceAndIsOnDisk() {
        SettingsStore store;
        QSignalSpy changed(&store, &SettingsStore::changed);
        store.setText(SettingsKeys::username, QStringLiteral("d"));
        store.setText(SettingsKeys::username, QStringLiteral("de"));
        store.setInteger(SettingsKeys::port, 1);
        store.setText(SettingsKeys::username, QStringLiteral("de")); // same value still counts
        QCOMPARE(changed.count(), 4);

        // On disk as soon as the event loop turns, without anyone asking.
        QTRY_VERIFY(TestEnvironment::readFile(store.location()).contains("username=de"));
        QVERIFY(TestEnvironment::readFile(store.location()).contains("port=1"));
    }
};

ZENTREL_TEST_MAIN(SettingsStoreTest, QCoreApplication)
#include "tst_settingsstore.moc"
