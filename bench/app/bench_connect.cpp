// Times the application's connect until its SOCKS port accepts, against a bare ssh doing the
// same against the same sshd, interleaved. Runs inside tests/e2e/in-sandbox (sshd on
// 127.0.0.1:22, a client key, keyfile GSettings) with QT_QPA_PLATFORM=offscreen and our
// networksetup first on PATH. Also times the two proxy commands that connect runs first.
#include "AppDelegate.h"
#include "BenchStats.h"
#include "CommandLines.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int port = 6969;
int alerts = 0;

bool portAccepts() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool accepted =
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return accepted;
}

// Polls every 0.2 ms, letting the event loop run so the application sees ssh's output.
template <typename Condition> void waitFor(Condition condition, const char *what) {
    const auto start = bench::Clock::now();
    while (!condition()) {
        QCoreApplication::processEvents();
        if (bench::millisecondsSince(start) > 15000) {
            std::fprintf(stderr, "timed out waiting for %s\n", what);
            std::exit(1);
        }
        usleep(200);
    }
}

double timeApplication(AppDelegate &delegate) {
    const auto start = bench::Clock::now();
    delegate.connect();
    waitFor(portAccepts, "the application's tunnel");
    const double elapsed = bench::millisecondsSince(start);
    delegate.disconnect();
    waitFor([] { return !portAccepts(); }, "the tunnel to close");
    waitFor([&delegate] { return delegate.sshCommand->hasExited(); }, "ssh to end");
    return elapsed;
}

double timeBareSsh(const QString &destination) {
    const QByteArray forward = "-NTCD" + QByteArray::number(port);
    const QByteArray target = destination.toLocal8Bit();
    char *argv[] = {const_cast<char *>("ssh"), const_cast<char *>(forward.constData()),
                    const_cast<char *>(target.constData()), nullptr};
    const auto start = bench::Clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, "ssh", nullptr, nullptr, argv, environ) != 0) {
        std::perror("ssh");
        std::exit(1);
    }
    waitFor(portAccepts, "the bare tunnel");
    const double elapsed = bench::millisecondsSince(start);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    waitFor([] { return !portAccepts(); }, "the bare tunnel to close");
    return elapsed;
}

double timeProxyCommands(const TunnelSettings &settings) {
    const auto start = bench::Clock::now();
    for (const QString &line : {proxyAddressCommand(settings), proxyOnCommand(settings)}) {
        const auto command = runShellCommand(line);
        command->waitForExit();
        if (command->exitCode() != 0) {
            std::fprintf(stderr, "failed: %s\n", qPrintable(line));
            std::exit(1);
        }
    }
    const double elapsed = bench::millisecondsSince(start);
    runShellCommand(proxyOffCommand(settings))->waitForExit();
    return elapsed;
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;

    // An alert would wait for a click: dismiss it and count the run as failed.
    QTimer alertWatch;
    QObject::connect(&alertWatch, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "alert: %s\n", qPrintable(box->informativeText()));
            ++alerts;
            box->done(QMessageBox::Ok);
        }
    });
    alertWatch.start(50);

    AppDelegate delegate;
    delegate.settingsStore().setText(SettingsKeys::server, QStringLiteral("127.0.0.1"));
    delegate.settingsStore().setInteger(SettingsKeys::port, port);
    delegate.applicationDidFinishLaunching();
    const TunnelSettings settings = delegate.tunnelSettings();
    const QString destination = settings.username + QLatin1Char('@') + settings.server;
    std::printf("network service '%s', tunnel command: %s\n", qPrintable(settings.networkService),
                qPrintable(tunnelCommand(settings)));

    // Warm-up: the first handshake pays for cold caches on both sides.
    timeApplication(delegate);
    timeBareSsh(destination);

    std::vector<double> app, bare, proxy, ratios;
    for (int i = 0; i < runs; ++i) {
        // Alternate which kind goes first, so drift in the machine's load hits both alike.
        if (i % 2 == 0) {
            app.push_back(timeApplication(delegate));
            bare.push_back(timeBareSsh(destination));
        } else {
            bare.push_back(timeBareSsh(destination));
            app.push_back(timeApplication(delegate));
        }
        proxy.push_back(timeProxyCommands(settings));
        ratios.push_back(app.back() / bare.back());
    }
    if (alerts > 0) {
        std::fprintf(stderr, "%d alert(s) during the runs: figures are not valid\n", alerts);
        return 1;
    }

    bench::printFigure("connect -> SOCKS port accepts, application", app, "ms", "-");
    bench::printFigure("connect -> SOCKS port accepts, bare ssh", bare, "ms", "-");
    bench::printFigure("  the two proxy commands (run before ssh)", proxy, "ms", "-");
    const double ratio = bench::median(app) / bench::median(bare);
    std::printf("%-58s ratio  %9.3f     (N=%zu each)  target <= 1.10\n",
                "connect ratio, application / bare (medians)", ratio, app.size());
    std::printf("%-58s share  %8.1f %%    (N=%zu)\n", "  proxy commands' share of application time",
                100.0 * bench::median(proxy) / bench::median(app), proxy.size());
    bench::printFigure("  per-pair ratio application / bare", ratios, "x ", "-");
    return 0;
}
