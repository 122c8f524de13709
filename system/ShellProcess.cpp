#include "ShellProcess.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char **environ;

namespace {

// Enough of the latest output to explain a failure; older bytes are dropped.
constexpr qsizetype collectedOutputLimit = 1024 * 1024;

int openExitDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? static_cast<int>(fd) : -1;
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
                                                  const QStringList &arguments) {
    std::unique_ptr<ShellProcess> process(new ShellProcess);

    int fds[2];
    if (!makePipe(fds))
        return process;

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

    pid_t pid = -1;
    const int error =
        posix_spawn(&pid, programPath.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        return process;
    }

    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    process->m_pid = pid;
    process->m_outputFd = fds[0];
    process->m_exitFd = openExitDescriptor(pid);

    ShellProcess *self = process.get();
    if (QCoreApplication::instance()) {
        self->m_outputNotifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, self);
        QObject::connect(self->m_outputNotifier, &QSocketNotifier::activated, self,
                         &ShellProcess::onOutputReady);
        if (self->m_exitFd >= 0) {
            self->m_exitNotifier = new QSocketNotifier(self->m_exitFd, QSocketNotifier::Read, self);
            QObject::connect(self->m_exitNotifier, &QSocketNotifier::activated, self,
                             &ShellProcess::onExitReady);
        }
    }
    return process;
}

ShellProcess::~ShellProcess() {
    closeOutput();
    if (m_exitNotifier)
        m_exitNotifier->setEnabled(false);
    if (wasLaunched() && !m_reaped && !reap(false) && m_exitFd >= 0 &&
        QCoreApplication::instance()) {
        new OrphanReaper(m_pid, m_exitFd, QCoreApplication::instance());
        m_exitFd = -1;
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

bool ShellProcess::reap(bool block) {
    if (m_reaped || !wasLaunched())
        return true;
    int status = 0;
    pid_t result;
    do {
        result = waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == m_pid) {
        m_waitStatus = status;
        m_statusKnown = true;
        m_reaped = true;
    } else if (result < 0) {
        m_reaped = true; // someone else reaped it; its status is unknown
    }
    if (m_reaped && m_exitNotifier)
        m_exitNotifier->setEnabled(false);
    return m_reaped;
}

void ShellProcess::onOutputReady() {
    QPointer<ShellProcess> self(this);
    const bool open = drainOutput(true);
    if (!self || open)
        return;
    // Without an exit descriptor the end of output is the only sign of exit we get.
    if (m_exitFd < 0 && !m_reaped) {
        reap(true);
        emit exited();
    }
}

void ShellProcess::onExitReady() {
    QPointer<ShellProcess> self(this);
    // What the child wrote before it ended is already in the pipe: report it first.
    drainOutput(true);
    if (!self || m_reaped)
        return;
    if (reap(false))
        emit exited();
}

void ShellProcess::waitForExit() {
    if (m_exitFd < 0) {
        // Without an exit descriptor the end of output is our cue; the wait after it is short.
        readToEnd();
        reap(true);
        return;
    }
    while (!m_reaped) {
        pollfd fds[2] = {{m_exitFd, POLLIN, 0}, {m_outputFd, POLLIN, 0}};
        if (poll(fds, m_outputFd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) {
            reap(true);
            break;
        }
        drainOutput(false);
        reap(false);
    }
    drainOutput(false);
}

QByteArray ShellProcess::readToEnd() {
    while (m_outputFd >= 0) {
        pollfd fd{m_outputFd, POLLIN, 0};
        if (poll(&fd, 1, -1) < 0 && errno != EINTR)
            break;
        drainOutput(false);
    }
    return m_collected;
}

void ShellProcess::terminate() {
    m_terminationRequested = true;
    if (!wasLaunched() || m_reaped)
        return;
    // The child leads its own session, so this reaches what bash started too.
    if (kill(-m_pid, SIGTERM) != 0)
        kill(m_pid, SIGTERM);
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

std::unique_ptr<ShellProcess> runShellCommand(const QString &commandLine) {
    return ShellProcess::start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), commandLine});
}
