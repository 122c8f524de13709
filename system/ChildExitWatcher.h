#pragma once

#include "SignalNotifier.h"

#include <QObject>

#include <functional>
#include <map>
#include <sys/types.h>

// Where the kernel offers no process descriptor (macOS, older kernels, sandboxes that forbid
// pidfd_open), SIGCHLD says that some child has ended. This reaps the children registered with
// it, each by its own pid (never waitpid(-1), which would take other code's children), without
// ever blocking, and tells their owners.
class ChildExitWatcher : public QObject {
    Q_OBJECT

public:
    // The one watcher of the process: a signal has only one handler.
    static ChildExitWatcher &instance();

    // `onReaped` gets the wait status once the child has ended and been reaped.
    void watch(pid_t pid, std::function<void(int status)> onReaped);
    void unwatch(pid_t pid);

    // For a blocking wait: readable when a child may have ended; then call wakeUp().
    int descriptor() const { return m_sigchld.descriptor(); }
    // Reaps whatever has ended since the last time.
    void wakeUp() { m_sigchld.drain(); }

private:
    ChildExitWatcher();
    void reapChildren();

    SignalNotifier m_sigchld;
    std::map<pid_t, std::function<void(int)>> m_children;
};

// Whether exits are watched through SIGCHLD instead of process descriptors: where the kernel has
// none, or when ZENTREL_NO_PIDFD is set (so that this way is tested where pidfds exist).
bool childExitsWatchedBySignal();
