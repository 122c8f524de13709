#include "RemoteCommand.h"

#include "RemoteControl.h"
#include "SingleInstance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <optional>

namespace {
constexpr int failed = 1;
constexpr int notConnected = 3;

void say(FILE *stream, const QString &text) {
    std::fprintf(stream, "%s\n", qUtf8Printable(text));
}

std::optional<QJsonObject> ask(const SingleInstance &instance, const char *line,
                               const QDeadlineTimer &deadline) {
    const std::optional<QByteArray> answer = instance.askPrimary(
        line, std::chrono::milliseconds(qMax<qint64>(1, deadline.remainingTime())));
    if (!answer)
        return std::nullopt;
    return QJsonDocument::fromJson(*answer).object();
}

// Starts the application as a normal launch would, and waits until it answers.
bool startApplication(const SingleInstance &instance, const QDeadlineTimer &deadline) {
    qint64 pid = 0;
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), {}, QString(), &pid))
        return false;
    while (!deadline.hasExpired()) {
        if (ask(instance, "status", QDeadlineTimer(500)))
            return true;
        if (kill(pid_t(pid), 0) != 0)
            return false; // it ended: it said why on its own standard error
        QThread::msleep(100);
    }
    return false;
}
} // namespace

int runRemoteCommand(const RemoteCommand &command, SingleInstance &instance) {
    const QDeadlineTimer deadline(command.timeout);
    const char *line = command.kind == RemoteCommand::Kind::Connect      ? "connect"
                       : command.kind == RemoteCommand::Kind::Disconnect ? "disconnect"
                                                                         : "status";
    // An instance that runs may still be starting: it is waited for, never started twice.
    std::optional<QJsonObject> answer;
    if (instance.primaryRunning())
        while (!(answer = ask(instance, "status", deadline)) && !deadline.hasExpired())
            QThread::msleep(100);
    else {
        switch (command.kind) {
        case RemoteCommand::Kind::Status:
            if (command.json)
                say(stdout, QStringLiteral("{\"state\":\"not-running\"}"));
            else
                say(stdout, statusLine({}));
            return notConnected;
        case RemoteCommand::Kind::Disconnect:
            say(stdout, QCoreApplication::translate(
                            "RemoteCommand",
                            "Zentrel VPN is not running: there is nothing to disconnect."));
            return 0;
        case RemoteCommand::Kind::Connect:
            if (!startApplication(instance, deadline)) {
                say(stderr, QCoreApplication::translate("RemoteCommand",
                                                        "Zentrel VPN could not be started."));
                return failed;
            }
            answer = QJsonObject();
            break;
        }
    }
    if (command.kind != RemoteCommand::Kind::Status)
        answer = ask(instance, line, deadline);
    if (!answer) {
        say(stderr, QCoreApplication::translate("RemoteCommand",
                                                "Zentrel VPN did not answer within %1 seconds.")
                        .arg(qint64(command.timeout.count())));
        return failed;
    }
    if (command.kind == RemoteCommand::Kind::Status) {
        say(stdout, command.json
                        ? QString::fromUtf8(QJsonDocument(*answer).toJson(QJsonDocument::Compact))
                        : statusLine(*answer));
        return answer->value(QLatin1String("state")).toString() == QLatin1String("connected")
                   ? 0
                   : notConnected;
    }
    if (answer->value(QLatin1String("ok")).toBool())
        return 0;
    say(stderr, answer->value(QLatin1String("error")).toString());
    return failed;
}
