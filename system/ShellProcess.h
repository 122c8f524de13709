#pragma once

#include "ProcessIdentity.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

// A child process whose standard output and standard error share one pipe, so its messages
// arrive in the order written. The pipe is always drained (nothing the child writes can stall
// it), and destroying the handle never stops the child: only terminate() and kill() do.
//
// Signals report what the event loop notices; the blocking calls (waitForExit, readToEnd)
// collect output without emitting it.
class ShellProcess : public QObject {
    Q_OBJECT

public:
    // Never fails loudly: when the program cannot be started, the handle reports
    // wasLaunched() false with launchError() saying why, and every wait on it returns at once.
    // `environment` holds NAME=VALUE entries set for the child on top of ours.
    static std::unique_ptr<ShellProcess> start(const QString &program, const QStringList &arguments,
                                               const QStringList &environment = {});
    // A process that an earlier run of ours started and left running: it can be watched and
    // stopped, but its output and its exit status are out of reach.
    static std::unique_ptr<ShellProcess> adopt(const ProcessIdentity &identity);
    ~ShellProcess() override;

    bool wasLaunched() const { return m_pid > 0; }
    QString launchError() const { return m_launchError; }
    bool isAdopted() const { return m_adopted.has_value(); }
    pid_t pid() const { return m_pid; }
    bool hasExited() const { return m_reaped || !wasLaunched(); }

    // Blocks until the child itself has exited (not every holder of its pipe), draining its
    // output meanwhile.
    void waitForExit();
    // Blocks until every writer has closed the pipe; returns all output collected so far.
    QByteArray readToEnd();
    // The same, but a child still writing at the deadline is killed (with its session) and
    // what it wrote until then is returned.
    QByteArray readToEnd(std::chrono::milliseconds deadline);
    // What the child has written so far (the last megabyte of it), without waiting for more.
    QByteArray output() const { return m_collected; }
    // Asks the child (and whatever it started in its session) to end. No effect once exited.
    void terminate();
    // Ends the child and its session at once, for one that did not heed terminate().
    void kill();
    // Whether terminate() or kill() was ever called, so an end we asked for can be told from a
    // failure.
    bool terminationRequested() const { return m_terminationRequested; }

    // How the child ended, once hasExited() on a launched process, when that can be known.
    std::optional<int> exitCode() const;
    std::optional<int> exitSignal() const;

signals:
    void outputReceived(const QByteArray &chunk);
    void exited();

private:
    ShellProcess() = default;
    void watchExit();
    // Reads what is available without blocking; returns false once the pipe has ended.
    bool drainOutput(bool emitChunks);
    QByteArray readUntil(QDeadlineTimer deadline);
    void closeOutput();
    bool reap();
    void reaped(int status);
    void reportExit();
    void onOutputReady();
    void signalSession(int signalNumber);

    pid_t m_pid = -1;
    QString m_launchError;
    std::optional<ProcessIdentity> m_adopted;
    int m_outputFd = -1;
    int m_exitFd = -1; // pidfd where the kernel has one
    bool m_watchedBySignal = false;
    QSocketNotifier *m_outputNotifier = nullptr;
    QSocketNotifier *m_exitNotifier = nullptr;
    QTimer *m_adoptedCheck = nullptr;
    QByteArray m_collected;
    bool m_reaped = false;
    bool m_exitReported = false;
    bool m_terminationRequested = false;
    bool m_statusKnown = false;
    int m_waitStatus = 0;
};

// Runs one command line through /bin/bash -c, unchanged, and returns at once.
std::unique_ptr<ShellProcess> runShellCommand(const QString &commandLine,
                                              const QStringList &environment = {});
