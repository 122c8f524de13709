#include "AppDelegate.h"
#include "SingleInstance.h"
#include "Translations.h"
#include "TrayWait.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QIcon>

namespace {
// On Linux our own networksetup lives in the private helper directory; putting it first on
// PATH lets the proxy command lines run unchanged. macOS has the system's own.
void putHelperDirectoryOnPath() {
#ifndef Q_OS_MACOS
    const QString helperDirectory = QDir::cleanPath(
        QCoreApplication::applicationDirPath() + QStringLiteral("/" ZENTREL_HELPER_RELATIVE_DIR));
    QByteArray path = QFile::encodeName(helperDirectory);
    const QByteArray inherited = qgetenv("PATH");
    if (!inherited.isEmpty())
        path += ':' + inherited;
    qputenv("PATH", path);
#endif
}
} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    installTranslations(application);
    QApplication::setApplicationName(QStringLiteral("Zentrel VPN"));
    QApplication::setQuitOnLastWindowClosed(false);
    // Lets the desktop match our windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zentrel.ZentrelVPN"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("zentrel-vpn")));
    putHelperDirectoryOnPath();

    SingleInstance instance;
    if (!instance.becomePrimary())
        return instance.activatePrimary() ? 0 : 1;

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate,
                     &AppDelegate::openPreferencesWindow);
    const TrayWait trayWait([&delegate] { delegate.reportMissingTray(); });
    return QApplication::exec();
}
