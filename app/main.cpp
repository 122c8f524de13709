#include "AppDelegate.h"
#include "CommandLine.h"
#include "LoginCheck.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QSystemTrayIcon>

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
    const CommandLineRequest request = handleCommandLine(argc, argv);
    if (request.action == CommandLineRequest::Action::Exit)
        return request.exitCode;
    if (request.action == CommandLineRequest::Action::RestoreProxy)
        return runLoginCheck();

    QApplication application(argc, argv);
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
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        delegate.reportMissingTray();
    return QApplication::exec();
}
