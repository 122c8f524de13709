#include "ChildExitWatcher.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>

#include <vector>

ChildExitWatcher &ChildExitWatcher::instance() {
    // Never destroyed: the handler must outlive every child, including orphans reaped at exit.
    static ChildExitWatcher *watcher = new ChildExitWatcher;
    return *watcher;
}

ChildExitWatcher::ChildExitWatcher() : m_sigchld({SIGCHLD}, SignalNotifier::Delivery::Always) {
    QObject::connect(&m_sigchld, &SignalNotifier::received, this, &ChildExitWatcher::reapChildren);
}

void ChildExitWatcher::watch(pid_t pid, std::function<void(int)> onReaped) {
    m_children[pid] = std::move(onReaped);
    // It may have ended before it was registered, its signal already handled.
    reapChildren();
}

void ChildExitWatcher::unwatch(pid_t pid) {
    m_children.erase(pid);
}

void ChildExitWatcher::reapChildren() {
    // Owners are told after the walk: what they do may register or drop other children.
    std::vector<std::pair<std::function<void(int)>, int>> ended;
    for (auto it = m_children.begin(); it != m_children.end();) {
        int status = 0;
        pid_t result;
        do {
            result = waitpid(it->first, &status, WNOHANG);
        } while (result < 0 && errno == EINTR);
        if (result == 0) {
            ++it;
            continue;
        }
        // A failed wait means someone else reaped it: ended, status unknown.
        ended.emplace_back(std::move(it->second), result > 0 ? status : -1);
        it = m_children.erase(it);
    }
    for (auto &[onReaped, status] : ended) {
        if (onReaped)
            onReaped(status);
    }
}

bool childExitsWatchedBySignal() {
#if defined(Q_OS_LINUX)
    return qEnvironmentVariableIsSet("ZENTREL_NO_PIDFD");
#else
    return true;
#endif
}
