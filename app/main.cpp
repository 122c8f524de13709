#include "AppDelegate.h"
#include "CommandLine.h"
#include "ConnectionController.h"
#include "LoginCheck.h"
#include "MessageBoxes.h"
#include "QuitRequestFilter.h"
#include "RemoteCommand.h"
#include "RemoteControl.h"
#include "SearchPath.h"
#include "SignalNotifier.h"
#include "SingleInstance.h"
#include "Translations.h"
#include "TrayWait.h"
#include "TunnelRecord.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include <csignal>
#include <cstdio>

namespace {
// On Linux our own networksetup lives in the private helper directory; putting it first on
// PATH lets the proxy command lines run unchanged. macOS has the system's own. Returns the
// directory when the helper is missing from it.
QString putHelperDirectoryOnPath() {
#ifdef Q_OS_MACOS
    qputenv("PATH", searchPathWith(QString(), qgetenv("PATH")));
    return QString();
#else
    const QString helperDirectory = QDir::cleanPath(
        QCoreApplication::applicationDirPath() + QStringLiteral("/" ZENTREL_HELPER_RELATIVE_DIR));
    qputenv("PATH", searchPathWith(helperDirectory, qgetenv("PATH")));
    const bool present =
        QFileInfo(helperDirectory + QStringLiteral("/networksetup")).isExecutable();
    return present ? QString() : helperDirectory;
#endif
}

// On standard error, and where there is a display, in a message too.
void reportCannotStart(const QString &why) {
    const QString text = QCoreApplication::translate("main", "Zentrel VPN cannot start.");
    std::fprintf(stderr, "%s %s\n", qUtf8Printable(text), qUtf8Printable(why));
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        makeMessageBox(QMessageBox::Critical, text, why)->exec();
}
} // namespace

int main(int argc, char *argv[]) {
    const CommandLineRequest request = handleCommandLine(argc, argv);
    if (request.action == CommandLineRequest::Action::Exit)
        return request.exitCode;
    if (request.action == CommandLineRequest::Action::Remote) {
        QCoreApplication application(argc, argv);
        installTranslations(application);
        SingleInstance instance;
        return runRemoteCommand(request.remote, instance);
    }
    if (request.action == CommandLineRequest::Action::RestoreProxy) {
        QCoreApplication application(argc, argv);
        installTranslations(application);
        putHelperDirectoryOnPath();
        SingleInstance instance;
        return runLoginCheck(TunnelRecordFile(), instance);
    }

    QApplication application(argc, argv);
    installTranslations(application);
    // Being told to end, by a signal or by the end of the session, is the status menu's Quit:
    // the proxy must not stay pointed at a tunnel that is about to go. Caught from the start
    // (a signal that comes early waits in the notifier's pipe); a second one ends the process
    // at once, should the orderly way hang.
    SignalNotifier termination({SIGTERM, SIGINT, SIGHUP}, SignalNotifier::Delivery::FirstOnly);
    QApplication::setApplicationName(QStringLiteral("Zentrel VPN"));
    QApplication::setQuitOnLastWindowClosed(false);
    // Lets the desktop match our windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zentrel.ZentrelVPN"));
    const QString missingHelperDirectory = putHelperDirectoryOnPath();

    SingleInstance instance;
    switch (instance.becomePrimary()) {
    case SingleInstance::Start::Primary:
        break;
    case SingleInstance::Start::AlreadyRunning:
        if (instance.activatePrimary())
            return 0;
        reportCannotStart(QCoreApplication::translate(
            "main", "Zentrel VPN is running already but does not answer. End that process, "
                    "then start Zentrel VPN again."));
        return 1;
    case SingleInstance::Start::Impossible:
        reportCannotStart(instance.error());
        return 1;
    }

    AppDelegate delegate;
    delegate.setMissingHelperDirectory(missingHelperDirectory);
    delegate.applicationDidFinishLaunching();
    // A knob for tests of a hung proxy command, which need not wait the full deadline.
    if (const int deadline = qEnvironmentVariableIntValue("ZENTREL_COMMAND_DEADLINE_MS");
        deadline > 0)
        delegate.connection().setCommandDeadline(std::chrono::milliseconds(deadline));
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate,
                     &AppDelegate::openPreferencesWindow);
    // The command line's --connect, --disconnect and --status.
    RemoteControl remote(delegate);
    QObject::connect(&instance, &SingleInstance::requestReceived, &remote, &RemoteControl::handle);
    QObject::connect(&instance, &SingleInstance::requestDropped, &remote, &RemoteControl::forget);
    QObject::connect(&remote, &RemoteControl::answered, &instance, &SingleInstance::answer);
    const TrayWait trayWait([&delegate] { delegate.reportMissingTray(); });

    QObject::connect(&termination, &SignalNotifier::received, &delegate, &AppDelegate::quitNow);
    // The end of an X11 session: the session manager first asks us to save (also when it only
    // saves the session, or before a logout the user may still cancel), and says "die" only once
    // the session really ends. Only the latter must disconnect.
    const QuitRequestFilter sessionEnd(&application);
    QObject::connect(&sessionEnd, &QuitRequestFilter::quitRequested, &delegate,
                     &AppDelegate::quitNow);
    return QApplication::exec();
}
