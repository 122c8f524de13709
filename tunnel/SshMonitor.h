#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class ShellProcess;

// What of ssh's output to show: all of it but its reports about single forwarded connections
// ("channel …" lines) and its note that it now trusts a server (the user said so in our dialog).
// Invalid UTF-8 becomes replacement characters.
QString sshOutputText(const QByteArray &output);

// What to tell the user when ssh ended by itself: what it wrote, or, when it wrote nothing to
// show, how it ended. The output of an ssh taken over from an earlier run cannot be read, which
// the text then says.
QString sshEndedText(const QString &said, std::optional<int> exitCode,
                     std::optional<int> exitSignal, bool outputReadable = true);

// Watches one tunnel's ssh process. What ssh writes is kept (the latest part of it) to explain a
// failure; it is never judged by itself: a server's banner or a note from ssh is no error. When
// the process ends without our having asked it to, ended() carries what to tell the user.
// Nothing is reported for a process that was told to terminate.
class SshMonitor : public QObject {
    Q_OBJECT

public:
    explicit SshMonitor(ShellProcess &process, QObject *parent = nullptr);

    // What ssh has written so far, as shown to the user.
    QString said() const { return sshOutputText(m_output); }

signals:
    void ended(const QString &message);

private:
    void onOutput(const QByteArray &chunk);
    void onExited();

    QPointer<ShellProcess> m_process;
    QByteArray m_output;
};
