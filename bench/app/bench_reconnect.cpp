// The tunnel coming back after the link: time from the link's return (netctl link-up has put
// the default route back) to the new ssh and to the first byte through the tunnel again, against
// a bare `ssh -NTCD` started on the same network; then the application's CPU time and wakeups
// while it sits connected. Runs in tests/e2e/in-network-sandbox with QT_QPA_PLATFORM=offscreen
// and our networksetup first on PATH. Usage: bench_reconnect ROUNDS IDLE_SECONDS
// Prints "pair reconnect-ssh MS BARE_MS", "pair reconnect MS BARE_MS" per round and
// "idle-connected SECONDS CPU_MS WAKEUPS SSH_CPU_MS".
#include "AppDelegate.h"
#include "BenchStats.h"
#include "ConnectionController.h"
#include "ForwardedByte.h"
#include "OpenMessages.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace {
constexpr unsigned short port = 6969;
constexpr unsigned short barePort = 6970;

bench::FarEnd farEnd() {
    return {qEnvironmentVariable("ZENTREL_E2E_SERVER").toStdString(), 22};
}

void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void netctl(const char *arguments) {
    const std::string line = std::string("netctl ") + arguments;
    if (std::system(line.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", line.c_str());
        std::exit(1);
    }
}

double bareSsh(const QString &destination) {
    return bench::bareSshMs(barePort, destination.toStdString(), farEnd(), 1000);
}

double cpuMs(const rusage &usage) {
    return (double(usage.ru_utime.tv_sec) + double(usage.ru_stime.tv_sec)) * 1e3 +
           (double(usage.ru_utime.tv_usec) + double(usage.ru_stime.tv_usec)) / 1e3;
}

// utime + stime of another process, in ms.
double processCpuMs(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000.0 /
           double(sysconf(_SC_CLK_TCK));
}
} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const QString server = qEnvironmentVariable("ZENTREL_E2E_SERVER");
    if (server.isEmpty()) {
        std::fprintf(stderr, "run me in tests/e2e/in-network-sandbox\n");
        return 2;
    }

    AppDelegate delegate;
    delegate.settingsStore().setText(SettingsKeys::server, server);
    delegate.settingsStore().setInteger(SettingsKeys::port, port);
    delegate.applicationDidFinishLaunching();
    delegate.connect();
    {
        std::atomic<bool> stop{false};
        QEventLoop loop;
        std::thread waiter([&] {
            bench::awaitFirstByte(port, farEnd(), stop, 1000);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        waiter.join();
    }
    bench::failOnOpenMessages();
    const QString destination = *delegate.username + QLatin1Char('@') + server;
    bareSsh(destination); // warm-up

    for (int round = 0; round < rounds; ++round) {
        runEventLoopFor(1000);
        const double bare = bareSsh(destination);
        netctl("link-down");
        runEventLoopFor(3000);
        const pid_t before = delegate.sshCommand() ? delegate.sshCommand()->pid() : 0;

        std::atomic<bool> stop{false};
        std::atomic<bool> linkBack{false};
        bench::Clock::time_point returned, arrived, restarted;
        QEventLoop loop;
        // The link comes back on another thread while the application's loop runs as usual.
        std::thread network([&] {
            netctl("link-up");
            returned = bench::Clock::now();
            linkBack = true;
            arrived = bench::awaitFirstByte(port, farEnd(), stop, 1000);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        QTimer watch;
        watch.setTimerType(Qt::PreciseTimer);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            ShellProcess *ssh = delegate.sshCommand();
            if (restarted == bench::Clock::time_point{} && ssh && ssh->pid() != before &&
                !ssh->hasExited())
                restarted = bench::Clock::now();
        });
        watch.start(1);
        QTimer::singleShot(20000, &loop, [&] {
            std::fprintf(stderr, "no tunnel 20 s after the link came back\n");
            std::exit(1);
        });
        loop.exec();
        network.join();
        bench::failOnOpenMessages();
        auto since = [&](bench::Clock::time_point t) {
            return std::chrono::duration<double, std::milli>(t - returned).count();
        };
        std::printf("pair reconnect-ssh %.3f %.3f\n", since(restarted), bare);
        std::printf("pair reconnect %.3f %.3f\n", since(arrived), bare);
        std::fflush(stdout);
    }

    // Connected and left alone: the liveness probe runs every 30 s.
    runEventLoopFor(2000);
    const pid_t ssh = delegate.sshCommand()->pid();
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const double sshBefore = processCpuMs(ssh);
    runEventLoopFor(idleSeconds * 1000);
    getrusage(RUSAGE_SELF, &after);
    const double sshAfter = processCpuMs(ssh);
    bench::failOnOpenMessages();
    if (!delegate.connected() || delegate.sshCommand()->pid() != ssh) {
        std::fprintf(stderr, "the tunnel did not stay up while idle\n");
        return 1;
    }
    std::printf("idle-connected %d %.3f %ld %.3f\n", idleSeconds, cpuMs(after) - cpuMs(before),
                (after.ru_nvcsw + after.ru_nivcsw) - (before.ru_nvcsw + before.ru_nivcsw),
                sshAfter - sshBefore);
    delegate.disconnect();
    runEventLoopFor(1000);
    return 0;
}
