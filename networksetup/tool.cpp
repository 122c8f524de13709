#include "tool.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace zentrel::networksetup {

namespace {

// Reads the tool's output until it closes it; false when the deadline came first.
bool readUntilEnd(int fd, Deadline deadline, std::string &output) {
    char buffer[4096];
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = poll(&ready, 1, millisecondsLeft(deadline));
        if (polled == 0)
            return false;
        if (polled < 0) {
            if (errno == EINTR)
                continue;
            return true; // the output is lost, the exit status still tells
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            output.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            return true;
    }
}

enum class End { exited, unknown, late };

// Output closed, the tool is about to end: poll for it briefly rather than block for good.
End awaitEnd(pid_t pid, Deadline deadline, int &status) {
    long pauseNs = 100000;
    for (;;) {
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            return End::exited;
        if (ended < 0 && errno != EINTR)
            return End::unknown; // e.g. SIGCHLD ignored by whoever started us: the status is gone
        if (millisecondsLeft(deadline) == 0)
            return End::late;
        const timespec pause{0, pauseNs};
        nanosleep(&pause, nullptr);
        pauseNs = std::min(pauseNs * 2, 10000000L);
    }
}

} // namespace

ToolResult runTool(const std::vector<std::string> &argv, Deadline deadline) {
    ToolResult result;
    if (argv.empty())
        return result;

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return result;

    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    // The tools never need our input; a terminal or a pipe left open there must not hold them.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Its own process group, so that a hung tool can be killed with whatever it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return result;
    }
    result.started = true;

    const bool closed = readUntilEnd(fds[0], deadline, result.output);
    close(fds[0]);
    int status = 0;
    const End end = closed ? awaitEnd(pid, deadline, status) : End::late;
    if (end == End::late) {
        result.timedOut = true;
        kill(-pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    result.exitStatus = end == End::exited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string findOnPath(const std::string &program) {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

} // namespace zentrel::networksetup
