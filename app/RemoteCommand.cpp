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

// The running instance's status once it answers: it may still be starting. An instance
// started here (`started`) that ends meanwhile is waited for no longer.
std::optional<QJsonObject> statusOnceAnswering(const SingleInstance &instance,
                                               const QDeadlineTimer &deadline, qint64 started = 0) {
    for (;;) {
        if (auto answer = ask(instance, "status",
                              QDeadlineTimer(qMin<qint64>(500, deadline.remainingTime()))))
            return answer;
        if (deadline.hasExpired() || (started > 0 && kill(pid_t(started), 0) != 0))
            return std::nullopt; // an instance that ended said why on its own standard error
        QThread::msleep(100);
    }
}
} // namespace

int runRemoteCommand(const RemoteCommand &command, SingleInstance &instance) {
    const QDeadlineTimer deadline(command.timeout);
    const char *line = command.kind == RemoteCommand::Kind::Connect      ? "connect"
                       : command.kind == RemoteCommand::Kind::Disconnect ? "disconnect"
                                                                         : "status";
    // An instance that runs may still be starting: it is waited for, never started twice.
    std::optional<QJsonObject> answer;
    if (instance.primaryRunning()) {
        answer = statusOnceAnswering(instance, deadline);
    } else {
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
        case RemoteCommand::Kind::Connect: {
            // Started as a normal launch would start it.
            qint64 pid = 0;
            if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), {}, QString(),
                                         &pid) ||
                !statusOnceAnswering(instance, deadline, pid)) {
                say(stderr, QCoreApplication::translate("RemoteCommand",
                                                        "Zentrel VPN could not be started."));
                return failed;
            }
            break;
        }
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
