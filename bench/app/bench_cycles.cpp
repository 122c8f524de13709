// Heap and resident set of the application after 1, 100 and 1,000 connect-disconnect cycles,
// with a stand-in ssh (fake_ssh, first on PATH as "ssh") and our networksetup. Run it with a
// tray (Xvfb and trayer) so that the tray really draws every state. Usage: bench_cycles [N]
// Prints "cycle N HEAP_KIB RSS_KIB".
#include "AppDelegate.h"
#include "BenchStats.h"
#include "ConnectionController.h"
#include "SettingsKeys.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr unsigned short port = 6969;

double heapKiB() {
    return double(mallinfo2().uordblks) / 1024.0;
}

double rssKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0.0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble();
    return 0.0;
}

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

template <typename Condition> void spinUntil(Condition condition, const char *what) {
    const auto start = bench::Clock::now();
    while (!condition()) {
        QCoreApplication::processEvents();
        if (bench::millisecondsSince(start) > 20000) {
            std::fprintf(stderr, "timed out waiting for %s\n", what);
            std::exit(1);
        }
        usleep(500);
    }
}

// Lets the tray fetch and paint the icon, as it would between two real state changes.
void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
    }
}
} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;

    AppDelegate delegate;
    delegate.settingsStore().setText(SettingsKeys::server, QStringLiteral("vpn.example.org"));
    delegate.settingsStore().setInteger(SettingsKeys::port, port);
    delegate.applicationDidFinishLaunching();
    spinUntil([&] { return delegate.connection().isIdle(); }, "the launch");

    for (int cycle = 1; cycle <= cycles; ++cycle) {
        delegate.connect();
        spinUntil([&] { return delegate.connected() && delegate.connection().isIdle(); },
                  "the connect");
        spinUntil(portAccepts, "the stand-in's port");
        settle();
        delegate.disconnect();
        spinUntil([&] { return delegate.connection().isIdle() && !delegate.connected(); },
                  "the disconnect");
        settle();
        for (QWidget *window : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible()) {
                std::fprintf(stderr, "message: %s %s\n", qPrintable(box->text()),
                             qPrintable(box->informativeText()));
                return 1;
            }
        if (cycle == 1 || cycle == 10 || cycle == 100 || cycle == 300 || cycle == 500 ||
            cycle == cycles) {
            std::printf("cycle %d %.1f %.1f\n", cycle, heapKiB(), rssKiB());
            std::fflush(stdout);
        }
    }
    return 0;
}
