#include "CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <vector>

namespace {

constexpr int usageError = 2;

// Options that every Qt application takes (QGuiApplication's, QApplication's, the X11
// platform's). Session managers restart us with -session, users pick -platform or -style: they
// are no mistake, so they are accepted here and left for QApplication to act on.
void acceptQtOptions(QCommandLineParser &parser) {
    const auto accept = [&parser](const char *names, bool takesValue) {
        for (const QString &name : QString::fromLatin1(names).split(u' ')) {
            QCommandLineOption option(name);
            if (takesValue)
                option.setValueName(QStringLiteral("value"));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    };
    accept("platform platformpluginpath platformtheme plugin qwindowgeometry geometry qwindowicon "
           "icon qwindowtitle title session display name visual style stylesheet qmljsdebugger",
           true);
    accept("reverse widgetcount nograb dograb", false);
}

void print(FILE *stream, const QString &text) {
    std::fprintf(stream, "%s", text.toLocal8Bit().constData());
}

bool hasEnvironment(const char *name) {
    return !qEnvironmentVariableIsEmpty(name);
}

// Without a display Qt would abort with a message about plugins that tells a user nothing.
bool displayAvailable(bool platformChosen) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return platformChosen || hasEnvironment("QT_QPA_PLATFORM") || hasEnvironment("DISPLAY") ||
           hasEnvironment("WAYLAND_DISPLAY");
#else
    Q_UNUSED(platformChosen)
    return true;
#endif
}

CommandLineRequest exitWith(int code) {
    return {CommandLineRequest::Action::Exit, code, {}};
}

} // namespace

CommandLineRequest handleCommandLine(int argc, char **argv) {
    const QString program =
        argc > 0 ? QFileInfo(QFile::decodeName(argv[0])).fileName() : QStringLiteral("zentrel-vpn");

    // QCommandLineParser takes the program name and version from an application object; this
    // one is gone before QApplication connects to the display. It sees the bare program name
    // so that the usage line reads as the user would type it.
    QByteArray programName = QFile::encodeName(program);
    std::vector<char *> probeArguments{programName.data()};
    if (argc > 1)
        probeArguments.insert(probeArguments.end(), argv + 1, argv + argc);
    int probeCount = static_cast<int>(probeArguments.size());
    probeArguments.push_back(nullptr);
    QCoreApplication probe(probeCount, probeArguments.data());
    QCoreApplication::setApplicationName(QStringLiteral("Zentrel VPN"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZENTREL_VERSION));

    QCommandLineParser parser;
    // Qt's options are single-dash words (-platform xcb), not bundled letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Sends your desktop's traffic through an SSH server you trust, from the system tray."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption restoreProxy(
        QStringLiteral("restore-proxy"),
        QStringLiteral("At login: switch off a proxy left on by an earlier run whose tunnel has "
                       "ended, then exit; never opens a window"));
    const QCommandLineOption connect(
        QStringLiteral("connect"),
        QStringLiteral("Connect, starting Zentrel VPN first if it is not running; wait until the "
                       "tunnel is up (exit status 0) or has failed (1, the reason on standard "
                       "error)."));
    const QCommandLineOption disconnect(
        QStringLiteral("disconnect"),
        QStringLiteral(
            "Disconnect the running Zentrel VPN and wait until it has (exit status 0)."));
    const QCommandLineOption status(
        QStringLiteral("status"),
        QStringLiteral(
            "Print the state of the tunnel; exit status 0 when connected, 3 otherwise."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("With --status: print it as one JSON object."));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("With --connect, --disconnect or --status: wait at most this long "
                       "(default 60)."),
        QStringLiteral("seconds"), QStringLiteral("60"));
    parser.addOptions({help, version, restoreProxy, connect, disconnect, status, json, timeout});
    acceptQtOptions(parser);

    QString error;
    if (!parser.parse(QCoreApplication::arguments()))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error =
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
    if (!error.isEmpty()) {
        print(
            stderr,
            QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(program, error));
        return exitWith(usageError);
    }
    if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        return exitWith(0);
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                    QCoreApplication::applicationVersion()));
        return exitWith(0);
    }
    if (parser.isSet(restoreProxy))
        return {CommandLineRequest::Action::RestoreProxy, 0, {}};
    const int remoteCount =
        int(parser.isSet(connect)) + int(parser.isSet(disconnect)) + int(parser.isSet(status));
    bool secondsOk = false;
    const int seconds = parser.value(timeout).toInt(&secondsOk);
    if (remoteCount > 1 || (parser.isSet(json) && !parser.isSet(status)) ||
        ((parser.isSet(timeout)) && remoteCount == 0) || !secondsOk || seconds <= 0) {
        print(stderr,
              QStringLiteral("%1: Use one of --connect, --disconnect and --status; --json only "
                             "with --status; --timeout with one of them, in whole seconds.\n"
                             "Try '%1 --help' for more information.\n")
                  .arg(program));
        return exitWith(usageError);
    }
    if (remoteCount == 1) {
        CommandLineRequest request{CommandLineRequest::Action::Remote, 0, {}};
        request.remote.kind = parser.isSet(connect)      ? RemoteCommand::Kind::Connect
                              : parser.isSet(disconnect) ? RemoteCommand::Kind::Disconnect
                                                         : RemoteCommand::Kind::Status;
        request.remote.json = parser.isSet(json);
        request.remote.timeout = std::chrono::seconds(seconds);
        return request;
    }
    if (!displayAvailable(parser.isSet(QStringLiteral("platform")))) {
        print(stderr,
              QStringLiteral("Zentrel VPN is a desktop application: start it from a "
                             "graphical session (no DISPLAY or WAYLAND_DISPLAY is set).\n"));
        return exitWith(1);
    }
    return {};
}
