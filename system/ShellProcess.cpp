#include "ShellProcess.h"

#include "ChildExitWatcher.h"
#include "SystemError.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

extern char **environ;

namespace {

// Enough of the latest output to explain a failure; older bytes are dropped.
constexpr qsizetype collectedOutputLimit = 1024 * 1024;
// How often a process adopted without a process descriptor is looked at.
constexpr int adoptedCheckIntervalMs = 1000;

int openExitDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd < 0)
        return -1;
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
#else
    Q_UNUSED(pid);
    return -1;
#endif
}

bool makePipe(int fds[2]) {
    if (pipe(fds) != 0)
        return false;
    for (int i = 0; i < 2; ++i)
        fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    return true;
}

void closeDescriptor(int fd) {
    if (fd >= 0)
        close(fd);
}

// Our environment with the given NAME=VALUE entries set on top.
std::vector<QByteArray> mergedEnvironment(const QStringList &overrides) {
    std::vector<QByteArray> merged;
    std::vector<QByteArray> extra;
    for (const QString &entry : overrides)
        extra.push_back(entry.toLocal8Bit());
    for (char **variable = environ; *variable; ++variable) {
        const QByteArray entry(*variable);
        const QByteArray name = entry.left(entry.indexOf('=') + 1);
        const bool overridden = std::any_of(extra.begin(), extra.end(), [&](const QByteArray &e) {
            return !name.isEmpty() && e.startsWith(name);
        });
        if (!overridden)
            merged.push_back(entry);
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

// Reaps a child whose handle was released before it ended, so no zombie stays behind.
class OrphanReaper : public QObject {
public:
    OrphanReaper(pid_t pid, int exitFd, QObject *parent)
        : QObject(parent), m_pid(pid), m_fd(exitFd) {
        auto *notifier = new QSocketNotifier(exitFd, QSocketNotifier::Read, this);
        QObject::connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
            notifier->setEnabled(false);
            waitpid(m_pid, nullptr, WNOHANG);
            deleteLater();
        });
    }
    ~OrphanReaper() override { close(m_fd); }

private:
    pid_t m_pid;
    int m_fd;
};

} // namespace

std::unique_ptr<ShellProcess> ShellProcess::start(const QString &program,
                                                  const QStringList &arguments,
                                                  const QStringList &environment) {
    std::unique_ptr<ShellProcess> process(new ShellProcess);

    int fds[2];
    if (!makePipe(fds)) {
        process->m_launchError = systemError(errno);
        return process;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Signals this application ignores must not stay ignored in the child, and the child gets
    // a session of its own so that it outlives us and a terminal's signals stay ours.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t noMask;
    sigemptyset(&noMask);
    posix_spawnattr_setsigmask(&attributes, &noMask);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
#ifdef POSIX_SPAWN_SETSID
    flags |= POSIX_SPAWN_SETSID;
#else
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
#endif
    posix_spawnattr_setflags(&attributes, flags);

    const QByteArray programPath = program.toLocal8Bit();
    std::vector<QByteArray> encoded{programPath};
    for (const QString &argument : arguments)
        encoded.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : encoded)
        argv.push_back(item.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> environmentEntries = mergedEnvironment(environment);
    std::vector<char *> envp;
    for (QByteArray &entry : environmentEntries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int error =
        posix_spawn(&pid, programPath.constData(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        process->m_launchError = systemError(error);
        return process;
    }

    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    process->m_pid = pid;
    process->m_outputFd = fds[0];
    if (QCoreApplication::instance()) {
        ShellProcess *self = process.get();
        self->m_outputNotifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, self);
        QObject::connect(self->m_outputNotifier, &QSocketNotifier::activated, self,
                         &ShellProcess::onOutputReady);
    }
    process->watchExit();
    return process;
}

std::unique_ptr<ShellProcess> ShellProcess::adopt(const ProcessIdentity &identity) {
    std::unique_ptr<ShellProcess> process(new ShellProcess);
    process->m_pid = identity.pid;
    process->m_adopted = identity;
    process->watchExit();
    return process;
}

void ShellProcess::watchExit() {
    if (!childExitsWatchedBySignal())
        m_exitFd = openExitDescriptor(m_pid);
    if (m_exitFd >= 0) {
        if (QCoreApplication::instance()) {
            m_exitNotifier = new QSocketNotifier(m_exitFd, QSocketNotifier::Read, this);
            QObject::connect(m_exitNotifier, &QSocketNotifier::activated, this, [this] {
                if (reap())
                    reportExit();
            });
        }
    } else if (m_adopted) {
        // Not our child: no signal tells of its end, so look at it now and then.
        m_adoptedCheck = new QTimer(this);
        QObject::connect(m_adoptedCheck, &QTimer::timeout, this, [this] {
            if (reap())
                reportExit();
        });
        m_adoptedCheck->start(adoptedCheckIntervalMs);
    } else {
        m_watchedBySignal = true;
        QPointer<ShellProcess> self(this);
        ChildExitWatcher::instance().watch(m_pid, [self](int status) {
            if (self)
                self->reaped(status);
        });
    }
}

ShellProcess::~ShellProcess() {
    closeOutput();
    if (m_exitNotifier)
        m_exitNotifier->setEnabled(false);
    if (wasLaunched() && !m_adopted && !reap()) {
        if (m_watchedBySignal) {
            ChildExitWatcher::instance().watch(m_pid, nullptr); // reaped, and nobody told
        } else if (m_exitFd >= 0 && QCoreApplication::instance()) {
            new OrphanReaper(m_pid, m_exitFd, QCoreApplication::instance());
            m_exitFd = -1;
        }
    }
    closeDescriptor(m_exitFd);
}

bool ShellProcess::drainOutput(bool emitChunks) {
    QPointer<ShellProcess> self(this);
    char buffer[65536];
    while (m_outputFd >= 0) {
        const ssize_t count = read(m_outputFd, buffer, sizeof buffer);
        if (count > 0) {
            const QByteArray chunk(buffer, count);
            m_collected.append(chunk);
            if (m_collected.size() > collectedOutputLimit)
                m_collected.remove(0, m_collected.size() - collectedOutputLimit);
            if (emitChunks) {
                emit outputReceived(chunk);
                if (!self)
                    return false;
            }
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        } else {
            closeOutput();
        }
    }
    return false;
}

void ShellProcess::closeOutput() {
    if (m_outputNotifier)
        m_outputNotifier->setEnabled(false);
    closeDescriptor(m_outputFd);
    m_outputFd = -1;
}

// Collects the exit without blocking; true once the process has ended.
bool ShellProcess::reap() {
    if (m_reaped || !wasLaunched())
        return true;
    if (m_adopted) {
        m_reaped = !isRunning(*m_adopted);
    } else {
        int status = 0;
        pid_t result;
        do {
            result = waitpid(m_pid, &status, WNOHANG);
        } while (result < 0 && errno == EINTR);
        if (result == m_pid) {
            m_waitStatus = status;
            m_statusKnown = true;
            m_reaped = true;
        } else if (result < 0) {
            m_reaped = true; // someone else reaped it; its status is unknown
        }
        if (m_reaped && m_watchedBySignal)
            ChildExitWatcher::instance().unwatch(m_pid);
    }
    if (m_reaped && m_exitNotifier)
        m_exitNotifier->setEnabled(false);
    if (m_reaped && m_adoptedCheck)
        m_adoptedCheck->stop();
    return m_reaped;
}

void ShellProcess::reaped(int status) {
    if (m_reaped)
        return;
    m_reaped = true;
    m_statusKnown = status != -1;
    m_waitStatus = m_statusKnown ? status : 0;
    // Told from inside the SIGCHLD handling, which may be someone else's blocking wait: report
    // from the event loop instead.
    QMetaObject::invokeMethod(this, &ShellProcess::reportExit, Qt::QueuedConnection);
}

void ShellProcess::reportExit() {
    if (m_exitReported)
        return;
    m_exitReported = true;
    QPointer<ShellProcess> self(this);
    // What the child wrote before it ended is already in the pipe: report it first.
    drainOutput(true);
    if (self)
        emit exited();
}

void ShellProcess::onOutputReady() {
    drainOutput(true);
}

void ShellProcess::waitForExit() {
    while (!reap()) {
        std::vector<pollfd> fds;
        if (m_outputFd >= 0)
            fds.push_back({m_outputFd, POLLIN, 0});
        if (m_exitFd >= 0)
            fds.push_back({m_exitFd, POLLIN, 0});
        else if (m_watchedBySignal)
            fds.push_back({ChildExitWatcher::instance().descriptor(), POLLIN, 0});
        // An adopted process without a descriptor can only be looked at now and then.
        const int timeout = m_exitFd < 0 && !m_watchedBySignal ? 100 : -1;
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            break;
        drainOutput(false);
        if (m_watchedBySignal)
            ChildExitWatcher::instance().wakeUp();
    }
    drainOutput(false);
    m_exitReported = true; // collected here: the event loop reports nothing more
}

QByteArray ShellProcess::readToEnd() {
    return readUntil(QDeadlineTimer(QDeadlineTimer::Forever));
}

QByteArray ShellProcess::readToEnd(std::chrono::milliseconds deadline) {
    return readUntil(QDeadlineTimer(deadline));
}

QByteArray ShellProcess::readUntil(QDeadlineTimer deadline) {
    bool killed = false;
    while (m_outputFd >= 0) {
        if (deadline.hasExpired()) {
            if (killed) {
                closeOutput(); // something that left its session still holds the pipe
                break;
            }
            kill();
            killed = true;
            deadline.setRemainingTime(1000);
        }
        pollfd fd{m_outputFd, POLLIN, 0};
        const qint64 remaining = deadline.remainingTime(); // -1: forever
        if (poll(&fd, 1, int(qMin<qint64>(remaining, INT_MAX))) < 0 && errno != EINTR)
            break;
        drainOutput(false);
    }
    return m_collected;
}

void ShellProcess::terminate() {
    m_terminationRequested = true;
    signalSession(SIGTERM);
}

void ShellProcess::kill() {
    m_terminationRequested = true;
    signalSession(SIGKILL);
}

void ShellProcess::signalSession(int signalNumber) {
    if (!wasLaunched() || m_reaped)
        return;
    // A pid from an earlier run may belong to someone else by now.
    if (m_adopted && !isRunning(*m_adopted))
        return;
    // The child leads its own session, so this reaches what bash started too.
    if (::kill(-m_pid, signalNumber) != 0)
        ::kill(m_pid, signalNumber);
}

std::optional<int> ShellProcess::exitCode() const {
    if (m_statusKnown && WIFEXITED(m_waitStatus))
        return WEXITSTATUS(m_waitStatus);
    return std::nullopt;
}

std::optional<int> ShellProcess::exitSignal() const {
    if (m_statusKnown && WIFSIGNALED(m_waitStatus))
        return WTERMSIG(m_waitStatus);
    return std::nullopt;
}

std::unique_ptr<ShellProcess> runShellCommand(const QString &commandLine,
                                              const QStringList &environment) {
    return ShellProcess::start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), commandLine},
                               environment);
}
