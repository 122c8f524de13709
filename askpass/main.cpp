// The askpass program ssh runs (SSH_ASKPASS) when it has to ask the user something: a new
// server's host key, a passphrase, a password or a code. It prints the answer and exits 0;
// cancelling exits 1 with nothing printed.

#include "Answer.h"
#include "AskPassDialog.h"
#include "Prompt.h"
#include "Translations.h"

#include <QApplication>
#include <QByteArray>
#include <QIcon>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {
void report(const QByteArray &text) {
    const QByteArray line = "zentrel-vpn-askpass: " + text + '\n';
    if (::write(STDERR_FILENO, line.constData(), size_t(line.size())) < 0)
        return; // nowhere left to say it
}

QByteArray displayDescription() {
    QByteArray names;
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            names += (names.isEmpty() ? "" : ", ") + QByteArray(name) + "=" + value;
    }
    return names.isEmpty() ? QByteArrayLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set")
                           : names;
}

// Our standard error is ssh's, which the app reads as ssh's own words: Qt's warnings would
// end a working connection with an error. Only what stops us from asking gets through, in
// words about the display rather than Qt's advice to reinstall.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type == QtFatalMsg) {
        if (message.contains(QLatin1String("platform plugin")))
            report("cannot open a window to ask ssh's question (" + displayDescription() + ")");
        else
            report(message.section(QLatin1Char('\n'), 0, 0).toLocal8Bit());
        std::_Exit(1);
    }
    if (type == QtCriticalMsg)
        report(message.toLocal8Bit());
}

// The dialog goes away with the ssh that asked, whoever ends it.
void endWithParent(QObject *context) {
    const pid_t parent = getppid();
#ifdef Q_OS_LINUX
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        std::_Exit(1);
    Q_UNUSED(context);
#else
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, [parent] {
        if (getppid() != parent)
            std::_Exit(1);
    });
    timer->start(500);
#endif
}
} // namespace

int main(int argc, char *argv[]) {
#ifdef Q_OS_LINUX
    // No core dump and no tracing by other processes of the user while a secret is held.
    prctl(PR_SET_DUMPABLE, 0);
#endif
    qInstallMessageHandler(messageHandler);
    // A dialog of a moment must not be saved and restored with the desktop session.
    qunsetenv("SESSION_MANAGER");

    // The prompt is ssh's only argument. Qt never sees it, so a prompt that looks like one of
    // Qt's own options (-style, -reverse…) stays text.
    const QString prompt = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    installTranslations(application);
    QApplication::setApplicationName(QStringLiteral("Zentrel VPN"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zentrel.ZentrelVPN"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("zentrel-vpn")));
    endWithParent(&application);

    const PromptKind kind = promptKind(prompt, qEnvironmentVariable("SSH_ASKPASS_PROMPT"));
    AskPassDialog dialog(kind, displayablePrompt(prompt));
    if (dialog.exec() != QDialog::Accepted)
        return 1;
    QString answer = dialog.takeAnswer();
    return writeAnswerAndWipe(answer) ? 0 : 1;
}
