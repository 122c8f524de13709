#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class ShellProcess;

// ssh's first chunk of output counts as an error unless, trimmed, it is empty or begins with
// "channel ". Returns the trimmed text when it is an error.
std::optional<QString> sshErrorText(const QByteArray &chunk);

// What to tell the user when ssh ended by itself: what it wrote after its first chunk, or,
// when it wrote nothing more, how it ended. The output of an ssh taken over from an earlier
// run cannot be read, which the text then says.
QString sshEndedText(const QString &laterOutput, std::optional<int> exitCode,
                     std::optional<int> exitSignal, bool outputReadable = true);

// Watches one tunnel's ssh process. Its first chunk of output goes to firstChunk(); when the
// process ends without our having asked it to, ended() carries what to tell the user.
// Nothing is reported for a process that was told to terminate.
class SshMonitor : public QObject {
    Q_OBJECT

public:
    explicit SshMonitor(ShellProcess &process, QObject *parent = nullptr);

signals:
    void firstChunk(const QByteArray &chunk);
    void ended(const QString &message);

private:
    void onOutput(const QByteArray &chunk);
    void onExited();

    QPointer<ShellProcess> m_process;
    bool m_firstChunkSeen = false;
    QByteArray m_laterOutput;
};
