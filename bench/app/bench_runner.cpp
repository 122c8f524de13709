// How long the event loop's thread is ever held up while commands run: a 1 ms timer ticks
// throughout and the longest gap between two ticks is what the thread could not answer for.
// Usage: bench_runner idle|commands  (set ZENTREL_NO_PIDFD=1 for the runner's fallback).
// "commands" runs a child that leaves a background sleeper holding its pipe, then 200 short
// commands, eight at a time, each seen to its end through the event loop. Prints
// "gap MODE LONGEST_MS P99_MS TICKS".
#include "BenchStats.h"
#include "ShellProcess.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {
constexpr int shortCommands = 200;
constexpr int atOnce = 8;
} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    const bool commands = argc > 1 && std::strcmp(argv[1], "commands") == 0;

    std::vector<double> gaps;
    auto last = bench::Clock::now();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = bench::Clock::now();
        gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    });

    std::vector<std::unique_ptr<ShellProcess>> handles; // kept to the end: none is freed early
    int started = 0, running = 0, ended = 0;
    pid_t sleeper = 0;
    double sleeperParentSeenMs = -1;
    std::function<void()> startNext = [&] {
        while (started < shortCommands && running < atOnce) {
            handles.push_back(runShellCommand(QStringLiteral("echo %1").arg(started++)));
            ++running;
            QObject::connect(handles.back().get(), &ShellProcess::exited, &application, [&] {
                --running;
                if (++ended == shortCommands)
                    QTimer::singleShot(200, &application, &QCoreApplication::quit);
                else
                    startNext();
            });
        }
    };

    std::unique_ptr<ShellProcess> parent;
    bench::Clock::time_point parentStart;
    QTimer::singleShot(100, &application, [&] {
        last = bench::Clock::now();
        ticker.start(1);
        if (!commands) {
            QTimer::singleShot(3000, &application, &QCoreApplication::quit);
            return;
        }
        // Its background child keeps the pipe open long after the shell itself has ended.
        parentStart = bench::Clock::now();
        parent = runShellCommand(QStringLiteral("sleep 30 & echo $!; exit 0"));
        QObject::connect(parent.get(), &ShellProcess::exited, &application, [&] {
            sleeperParentSeenMs = bench::millisecondsSince(parentStart);
            sleeper = parent->output().trimmed().toInt();
            startNext();
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
    std::vector<double> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    const double longest = sorted.empty() ? 0 : sorted.back();
    const double p99 = sorted.empty() ? 0 : sorted[size_t(0.99 * double(sorted.size() - 1))];
    std::printf("gap %s %.3f %.3f %zu\n", commands ? "commands" : "idle", longest, p99,
                gaps.size());
    return 0;
}
