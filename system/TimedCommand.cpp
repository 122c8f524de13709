#include "TimedCommand.h"

#include "ShellProcess.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace {
// One command on its way; deletes itself once it has told its owner how the command ended.
class TimedCommandRun : public QObject {
public:
    TimedCommandRun(const QString &commandLine, std::chrono::milliseconds deadline,
                    QObject *context, std::function<void(const CommandOutcome &)> done)
        : m_context(context), m_done(std::move(done)) {
        m_outcome.commandLine = commandLine;
        m_process = runShellCommand(commandLine);
        m_outcome.started = m_process->wasLaunched();
        m_outcome.launchError = m_process->launchError();
        if (!m_outcome.started) {
            QMetaObject::invokeMethod(this, &TimedCommandRun::finish, Qt::QueuedConnection);
            return;
        }
        QObject::connect(m_process.get(), &ShellProcess::exited, this, &TimedCommandRun::finish);
        m_deadline.setSingleShot(true);
        QObject::connect(&m_deadline, &QTimer::timeout, this, [this] {
            m_outcome.timedOut = true;
            m_process->kill(); // its end arrives through exited() as usual
        });
        m_deadline.start(deadline);
    }

private:
    void finish() {
        m_deadline.stop();
        m_outcome.exitCode = m_process->exitCode();
        m_outcome.exitSignal = m_process->exitSignal();
        m_outcome.output = m_process->output();
        if (m_context && m_done)
            m_done(m_outcome);
        deleteLater();
    }

    QPointer<QObject> m_context;
    std::function<void(const CommandOutcome &)> m_done;
    std::unique_ptr<ShellProcess> m_process;
    QTimer m_deadline;
    CommandOutcome m_outcome;
};
} // namespace

QString failureDescription(const CommandOutcome &outcome) {
    const QString output = QString::fromUtf8(outcome.output).trimmed();
    QString reason;
    if (!outcome.started)
        reason = QCoreApplication::translate("TimedCommand", "It could not be started: %1.")
                     .arg(outcome.launchError);
    else if (outcome.timedOut)
        reason = QCoreApplication::translate("TimedCommand",
                                             "It did not finish in time and was stopped.");
    else if (outcome.exitSignal)
        reason = QCoreApplication::translate("TimedCommand", "It was stopped by signal %1.")
                     .arg(*outcome.exitSignal);
    else if (outcome.exitCode && *outcome.exitCode != 0)
        reason = QCoreApplication::translate("TimedCommand", "It exited with status %1.")
                     .arg(*outcome.exitCode);
    if (output.isEmpty())
        return reason;
    return reason.isEmpty() ? output : output + QLatin1Char('\n') + reason;
}

void runTimedCommand(const QString &commandLine, std::chrono::milliseconds deadline,
                     QObject *context, std::function<void(const CommandOutcome &)> done) {
    // Parented to nothing: it must finish (and kill a hung command) even if its owner goes.
    new TimedCommandRun(commandLine, deadline, context, std::move(done));
}
