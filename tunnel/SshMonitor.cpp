#include "SshMonitor.h"

#include "ShellProcess.h"

#include <QCoreApplication>
#include <QStringList>

namespace {
// Enough of ssh's words to explain why it failed: a banner before them may be cut short.
constexpr qsizetype outputLimit = 16 * 1024;
} // namespace

QString sshOutputText(const QByteArray &output) {
    QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    lines.removeIf([](const QString &line) {
        const QString trimmed = line.trimmed();
        return trimmed.startsWith(QLatin1String("channel ")) ||
               trimmed.startsWith(QLatin1String("Warning: Permanently added "));
    });
    return lines.join(QLatin1Char('\n')).trimmed();
}

QString sshEndedText(const QString &said, std::optional<int> exitCode,
                     std::optional<int> exitSignal, bool outputReadable) {
    if (!outputReadable)
        return QCoreApplication::translate(
            "SshMonitor",
            "The SSH connection ended. It was started by an earlier run of Zentrel VPN, so "
            "what ssh reported cannot be shown.");
    if (!said.isEmpty())
        return said;
    if (exitSignal)
        return QCoreApplication::translate(
                   "SshMonitor", "The SSH connection ended: ssh was stopped by signal %1.")
            .arg(*exitSignal);
    if (exitCode)
        return QCoreApplication::translate("SshMonitor",
                                           "The SSH connection ended: ssh exited with status %1.")
            .arg(*exitCode);
    return QCoreApplication::translate("SshMonitor", "The SSH connection ended.");
}

SshMonitor::SshMonitor(ShellProcess &process, QObject *parent)
    : QObject(parent), m_process(&process) {
    QObject::connect(&process, &ShellProcess::outputReceived, this, &SshMonitor::onOutput);
    QObject::connect(&process, &ShellProcess::exited, this, &SshMonitor::onExited);
}

void SshMonitor::onOutput(const QByteArray &chunk) {
    if (!m_process || m_process->terminationRequested())
        return;
    m_output.append(chunk);
    if (m_output.size() > outputLimit) {
        m_output.remove(0, m_output.size() - outputLimit);
        // Start at a whole line and never inside a character.
        const qsizetype lineStart = m_output.indexOf('\n');
        m_output.remove(0, lineStart < 0 ? 0 : lineStart + 1);
    }
}

void SshMonitor::onExited() {
    if (!m_process || m_process->terminationRequested())
        return;
    emit ended(sshEndedText(said(), m_process->exitCode(), m_process->exitSignal(),
                            !m_process->isAdopted()));
}
