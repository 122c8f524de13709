// How long the event loop's thread is ever held up while commands run: a 1 ms timer ticks
// throughout; the longest gap between two ticks is the longest the thread could not answer,
// and the thread's own CPU time within that gap tells our work from the scheduler's (other
// processes running on the machine's cores). Usage:
//   bench_runner idle|commands   (set ZENTREL_NO_PIDFD=1 for the runner's fallback)
// "idle" ticks for as long as a run of commands takes (half a second). "commands" runs a child that
// leaves a background sleeper holding its pipe, then 200 short commands, two at a time as the
// application runs them at most, each started from an event of its own and seen to its end through
// the event loop. Prints "gap MODE LONGEST_MS CPU_IN_LONGEST_MS LONGEST_CPU_MS TICKS".
#include "BenchStats.h"
#include "ShellProcess.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {
constexpr int shortCommands = 200;
constexpr int atOnce = 2;

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}
} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    const bool commands = argc > 1 && std::strcmp(argv[1], "commands") == 0;

    double longest = 0, cpuInLongest = 0, longestCpu = 0;
    size_t ticks = 0;
    auto last = bench::Clock::now();
    double lastCpu = threadCpuMs();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = bench::Clock::now();
        const double cpu = threadCpuMs();
        const double gap = std::chrono::duration<double, std::milli>(now - last).count();
        if (gap > longest) {
            longest = gap;
            cpuInLongest = cpu - lastCpu;
        }
        longestCpu = std::max(longestCpu, cpu - lastCpu);
        ++ticks;
        last = now;
        lastCpu = cpu;
    });

    std::vector<std::unique_ptr<ShellProcess>> handles; // kept to the end: none is freed early
    int started = 0, ended = 0;
    std::function<void()> startOne = [&] {
        if (started == shortCommands)
            return;
        handles.push_back(runShellCommand(QStringLiteral("echo %1").arg(started++)));
        QObject::connect(handles.back().get(), &ShellProcess::exited, &application, [&] {
            if (++ended == shortCommands)
                QTimer::singleShot(200, &application, &QCoreApplication::quit);
            else
                QMetaObject::invokeMethod(&application, startOne, Qt::QueuedConnection);
        });
    };

    pid_t sleeper = 0;
    double sleeperParentSeenMs = -1;
    std::unique_ptr<ShellProcess> parent;
    bench::Clock::time_point parentStart;
    QTimer::singleShot(100, &application, [&] {
        last = bench::Clock::now();
        lastCpu = threadCpuMs();
        ticker.start(1);
        if (!commands) {
            QTimer::singleShot(500, &application, &QCoreApplication::quit);
            return;
        }
        // Its background child keeps the pipe open long after the shell itself has ended.
        parentStart = bench::Clock::now();
        parent = runShellCommand(QStringLiteral("sleep 30 & echo $!; exit 0"));
        QObject::connect(parent.get(), &ShellProcess::exited, &application, [&] {
            sleeperParentSeenMs = bench::millisecondsSince(parentStart);
            sleeper = parent->output().trimmed().toInt();
            for (int i = 0; i < atOnce; ++i)
                QMetaObject::invokeMethod(&application, startOne, Qt::QueuedConnection);
        });
    });
    QCoreApplication::exec();
    if (sleeper > 0)
        kill(sleeper, SIGTERM);
    if (commands && (ended != shortCommands || sleeperParentSeenMs < 0)) {
        std::fprintf(stderr, "only %d of %d commands were seen to end\n", ended, shortCommands);
        return 1;
    }
    if (commands)
        std::fprintf(stderr, "the shell that left a sleeper was seen to end after %.1f ms\n",
                     sleeperParentSeenMs);
    std::printf("gap %s %.3f %.3f %.3f %zu\n", commands ? "commands" : "idle", longest,
                cpuInLongest, longestCpu, ticks);
    return 0;
}
