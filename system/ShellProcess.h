#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <sys/types.h>

class QSocketNotifier;

// A child process whose standard output and standard error share one pipe, so its messages
// arrive in the order written. The pipe is always drained (nothing the child writes can stall
// it), and destroying the handle never stops the child: only terminate() does.
//
// Signals report what the event loop notices; the blocking calls (waitForExit, readToEnd)
// collect output without emitting it.
class ShellProcess : public QObject {
    Q_OBJECT

public:
    // Never fails loudly: when the program cannot be started, the handle reports
    // wasLaunched() false and every wait on it returns at once.
    static std::unique_ptr<ShellProcess> start(const QString &program,
                                               const QStringList &arguments);
    ~ShellProcess() override;

    bool wasLaunched() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    bool hasExited() const { return m_reaped || !wasLaunched(); }

    // Blocks until the child has exited, draining its output meanwhile.
    void waitForExit();
    // Blocks until every writer has closed the pipe; returns all output collected so far.
    QByteArray readToEnd();
    // Asks the child (and whatever it started in its session) to end. No effect once exited.
    void terminate();
    // Whether terminate() was ever called, so an end we asked for can be told from a failure.
    bool terminationRequested() const { return m_terminationRequested; }

    // How the child ended, once hasExited() on a launched process.
    std::optional<int> exitCode() const;
    std::optional<int> exitSignal() const;

signals:
    void outputReceived(const QByteArray &chunk);
    void exited();

private:
    ShellProcess() = default;
    // Reads what is available without blocking; returns false once the pipe has ended.
    bool drainOutput(bool emitChunks);
    void closeOutput();
    bool reap(bool block);
    void onOutputReady();
    void onExitReady();

    pid_t m_pid = -1;
    int m_outputFd = -1;
    int m_exitFd = -1; // pidfd where the kernel has one
    QSocketNotifier *m_outputNotifier = nullptr;
    QSocketNotifier *m_exitNotifier = nullptr;
    QByteArray m_collected;
    bool m_reaped = false;
    bool m_terminationRequested = false;
    bool m_statusKnown = false;
    int m_waitStatus = 0;
};

// Runs one command line through /bin/bash -c, unchanged, and returns at once.
std::unique_ptr<ShellProcess> runShellCommand(const QString &commandLine);
