#include "StatusItem.h"
#include "StatusLook.h"
#include "StatusMenu.h"
#include "TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QSignalSpy>

class StatusMenuTest : public QObject {
    Q_OBJECT

public:
    explicit StatusMenuTest(TestEnvironment &) {}

private slots:
    void menuHasExactlyFourEntries() {
        StatusMenu menu;
        const QList<QAction *> actions = menu.actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions[0]->text(), QStringLiteral("Not Configured"));
        QVERIFY(!actions[0]->isEnabled());
        QCOMPARE(actions[1]->text(), QStringLiteral("Zentrel VPN Preferences\u2026"));
        QVERIFY(actions[2]->isSeparator());
        QCOMPARE(actions[3]->text(), QStringLiteral("Quit Zentrel VPN"));
        for (QAction *action : actions)
            QVERIFY(action->shortcut().isEmpty());
    }

    void connectionEntryAsksForWhatItShows() {
        StatusMenu menu;
        QSignalSpy connectRequests(&menu, &StatusMenu::connectRequested);
        QSignalSpy disconnectRequests(&menu, &StatusMenu::disconnectRequested);
        menu.connectionAction()->trigger();
        menu.setConnectionItem(disconnectedConnectionItem());
        QVERIFY(menu.connectionAction()->isEnabled());
        menu.connectionAction()->trigger();
        menu.setConnectionItem(connectedConnectionItem());
        menu.connectionAction()->trigger();
        QCOMPARE(connectRequests.count(), 1);
        QCOMPARE(disconnectRequests.count(), 1);
    }

    void iconOpacityTellsTheState() {
        const QImage faded = statusIcon(statusOpacity(false), Qt::black).pixmap(22).toImage();
        const QImage opaque = statusIcon(statusOpacity(true), Qt::black).pixmap(22).toImage();
        QVERIFY(!opaque.isNull());
        // The shield's centre column at the top is solid glyph in both.
        const QPoint inside(11, 5);
        QCOMPARE(qAlpha(opaque.pixel(inside)), 255);
        QVERIFY(qAbs(qAlpha(faded.pixel(inside)) - 128) <= 2);
        QCOMPARE(qAlpha(opaque.pixel(0, 0)), 0); // transparent around the glyph

        StatusItem item;
        QCOMPARE(item.opacity(), 0.5);
        item.setOpacity(1.0);
        QCOMPARE(item.opacity(), 1.0);
    }
};

ZENTREL_TEST_MAIN(StatusMenuTest, QApplication)
#include "tst_statusmenu.moc"
