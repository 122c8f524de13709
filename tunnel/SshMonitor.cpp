#include "SshMonitor.h"

#include "ShellProcess.h"

#include <QCoreApplication>
#include <QStringList>

namespace {
// Enough of ssh's last words to explain why it ended.
constexpr qsizetype laterOutputLimit = 16 * 1024;

QString decodedAndTrimmed(const QByteArray &bytes) {
    // Invalid UTF-8 becomes replacement characters rather than stopping anything.
    return QString::fromUtf8(bytes).trimmed();
}
} // namespace

std::optional<QString> sshErrorText(const QByteArray &chunk) {
    // ssh's note that it now trusts a server, after the user said so in our dialog, is no
    // error; what follows it is judged as ever.
    QStringList lines = decodedAndTrimmed(chunk).split(QLatin1Char('\n'));
    while (!lines.isEmpty() &&
           lines.constFirst().startsWith(QLatin1String("Warning: Permanently added ")))
        lines.removeFirst();
    const QString text = lines.join(QLatin1Char('\n')).trimmed();
    if (text.isEmpty() || text.startsWith(QLatin1String("channel ")))
        return std::nullopt;
    return text;
}

QString sshEndedText(const QString &laterOutput, std::optional<int> exitCode,
                     std::optional<int> exitSignal, bool outputReadable) {
    if (!outputReadable)
        return QCoreApplication::translate(
            "SshMonitor",
            "The SSH connection ended. It was started by an earlier run of Zentrel VPN, so "
            "what ssh reported cannot be shown.");
    // ssh's reports about single forwarded connections (ours that check the tunnel among them)
    // say nothing about why it ended.
    QStringList lines = laterOutput.split(QLatin1Char('\n'));
    lines.removeIf([](const QString &line) { return line.startsWith(QLatin1String("channel ")); });
    const QString said = lines.join(QLatin1Char('\n')).trimmed();
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
    if (!m_firstChunkSeen) {
        m_firstChunkSeen = true;
        emit firstChunk(chunk);
        return;
    }
    m_laterOutput.append(chunk);
    if (m_laterOutput.size() > laterOutputLimit)
        m_laterOutput.remove(0, m_laterOutput.size() - laterOutputLimit);
}

void SshMonitor::onExited() {
    if (!m_process || m_process->terminationRequested())
        return;
    emit ended(sshEndedText(decodedAndTrimmed(m_laterOutput), m_process->exitCode(),
                            m_process->exitSignal(), !m_process->isAdopted()));
}
