// Connect until the first byte has come through the tunnel from its far side, the application
// against a bare `ssh -NTCD` to the same sshd, in interleaved pairs (which goes first alternates).
// A third kind runs by hand exactly what connect runs (the two proxy commands, waited for, then
// ssh, through /bin/bash -c), to tell what the commands cost from what the application adds.
// Runs inside tests/e2e/in-network-sandbox --local (sshd on 127.0.0.1:22, a client key, GSettings)
// with QT_QPA_PLATFORM=offscreen and our networksetup first on PATH. Usage:
//   bench_connect PAIRS ROW
// Prints per pair "pair ROW APP_MS BARE_MS", "pair ROW-byhand APP_MS BY_HAND_MS" and
// "pair ROW-proxy MS 0" (the two proxy commands by hand).
#include "AppDelegate.h"
#include "BenchProcess.h"
#include "BenchStats.h"
#include "CommandLines.h"
#include "ConnectionController.h"
#include "ForwardedByte.h"
#include "OpenMessages.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"

#include <QApplication>
#include <QEventLoop>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace {

constexpr unsigned short port = 6969;
const bench::FarEnd farEnd; // sshd's banner, as the far side sees it

double timeApplication(AppDelegate &delegate) {
    std::atomic<bool> stop{false};
    QEventLoop loop;
    bench::Clock::time_point arrived;
    const auto start = bench::Clock::now();
    delegate.connect();
    // The application's event loop runs as it would; another thread waits for the byte.
    std::thread waiter([&] {
        arrived = bench::awaitFirstByte(port, farEnd, stop);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    waiter.join();
    const double elapsed = std::chrono::duration<double, std::milli>(arrived - start).count();
    bench::failOnOpenMessages();
    delegate.disconnect();
    bench::spinUntil([&] { return delegate.connection().isIdle() && !delegate.connected(); },
                     "the disconnect");
    bench::spinUntil([] { return !bench::portAccepts(port); }, "the tunnel to close");
    bench::failOnOpenMessages();
    return elapsed;
}

double timeBareSsh(const QString &destination) {
    const double elapsed = bench::bareSshMs(port, destination.toStdString(), farEnd);
    bench::spinUntil([] { return !bench::portAccepts(port); }, "the bare tunnel to close");
    return elapsed;
}

pid_t spawnShell(const QString &commandLine) {
    const QByteArray line = commandLine.toLocal8Bit();
    char *argv[] = {const_cast<char *>("/bin/bash"), const_cast<char *>("-c"),
                    const_cast<char *>(line.constData()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/bash", nullptr, nullptr, argv, environ) != 0) {
        std::perror("bash");
        std::exit(1);
    }
    return pid;
}

void runShell(const QString &commandLine) {
    int status = 0;
    waitpid(spawnShell(commandLine), &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s\n", qPrintable(commandLine));
        std::exit(1);
    }
}

// What connect must run, run by hand in the same order: the two proxy commands, each waited
// for, then ssh, all through /bin/bash -c. Returns the time to the first byte and, in
// `proxyMs`, the time the two proxy commands took.
double timeByHand(const TunnelSettings &settings, double &proxyMs) {
    std::atomic<bool> stop{false};
    const auto start = bench::Clock::now();
    runShell(proxyAddressCommand(settings));
    runShell(proxyOnCommand(settings));
    proxyMs = bench::millisecondsSince(start);
    const pid_t ssh = spawnShell(tunnelCommand(settings)); // bash runs ssh in its place
    const auto arrived = bench::awaitFirstByte(port, farEnd, stop);
    const double elapsed = std::chrono::duration<double, std::milli>(arrived - start).count();
    kill(ssh, SIGTERM);
    waitpid(ssh, nullptr, 0);
    runShell(proxyOffCommand(settings));
    bench::spinUntil([] { return !bench::portAccepts(port); }, "the tunnel by hand to close");
    return elapsed;
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const int pairs = argc > 1 ? std::atoi(argv[1]) : 41;
    const char *row = argc > 2 ? argv[2] : "connect";

    AppDelegate delegate;
    delegate.settingsStore().setText(SettingsKeys::server, QStringLiteral("127.0.0.1"));
    delegate.settingsStore().setInteger(SettingsKeys::port, port);
    delegate.applicationDidFinishLaunching();
    bench::spinUntil([&] { return delegate.connection().isIdle(); }, "the launch");
    delegate.loadSettings();
    const TunnelSettings settings = delegate.tunnelSettings();
    const QString destination = settings.username + QLatin1Char('@') + settings.server;
    std::fprintf(stderr, "network service '%s', tunnel command: %s\n",
                 qPrintable(settings.networkService), qPrintable(tunnelCommand(settings)));

    // Warm-up: the first handshakes pay for cold caches on both sides.
    double proxy = 0;
    for (int i = 0; i < 2; ++i) {
        timeApplication(delegate);
        timeBareSsh(destination);
        timeByHand(settings, proxy);
    }
    // The three kinds take turns going first, so drift in the machine's load hits all alike.
    for (int i = 0; i < pairs; ++i) {
        double app = 0, bare = 0, byHand = 0;
        for (int k = 0; k < 3; ++k) {
            switch ((i + k) % 3) {
            case 0:
                app = timeApplication(delegate);
                break;
            case 1:
                bare = timeBareSsh(destination);
                break;
            default:
                byHand = timeByHand(settings, proxy);
                break;
            }
        }
        std::printf("pair %s %.3f %.3f\n", row, app, bare);
        std::printf("pair %s-byhand %.3f %.3f\n", row, app, byHand);
        std::printf("pair %s-proxy %.3f 0\n", row, proxy);
        std::fflush(stdout);
    }
    return 0;
}
