// The floor for start-up and idle memory: what Qt itself costs for a tray icon with a menu of
// four entries, built with the application's own compiler flags.
#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QMenu menu;
    menu.addAction(QStringLiteral("Connect"));
    menu.addAction(QStringLiteral("Preferences\u2026"));
    menu.addAction(QStringLiteral("About"));
    QObject::connect(menu.addAction(QStringLiteral("Quit")), &QAction::triggered, &application,
                     &QCoreApplication::quit);

    QPixmap glyph(22, 22);
    glyph.fill(Qt::black);
    QSystemTrayIcon tray{QIcon(glyph)};
    tray.setContextMenu(&menu);
    tray.show();
    return QApplication::exec();
}
