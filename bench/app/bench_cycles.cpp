// Heap and resident set of the application after 1, 100 and 1,000 connect-disconnect cycles,
// with a stand-in ssh (fake_ssh, first on PATH as "ssh") and our networksetup. Run it with a
// tray (Xvfb and trayer) so that the tray really draws every state. Usage: bench_cycles [N]
// Prints "cycle N HEAP_KIB RSS_KIB".
#include "AppDelegate.h"
#include "BenchProcess.h"
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

} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;

    AppDelegate delegate;
    delegate.settingsStore().setText(SettingsKeys::server, QStringLiteral("vpn.example.org"));
    delegate.settingsStore().setInteger(SettingsKeys::port, port);
    delegate.applicationDidFinishLaunching();
    bench::spinUntil([&] { return delegate.connection().isIdle(); }, "the launch");

    for (int cycle = 1; cycle <= cycles; ++cycle) {
        delegate.connect();
        bench::spinUntil([&] { return delegate.connected() && delegate.connection().isIdle(); },
                         "the connect");
        bench::spinUntil([] { return bench::portAccepts(port); }, "the stand-in's port");
        bench::settle();
        delegate.disconnect();
        bench::spinUntil([&] { return delegate.connection().isIdle() && !delegate.connected(); },
                         "the disconnect");
        bench::settle();
        for (QWidget *window : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible()) {
                std::fprintf(stderr, "message: %s %s\n", qPrintable(box->text()),
                             qPrintable(box->informativeText()));
                return 1;
            }
        if (cycle == 1 || cycle == 10 || cycle == 100 || cycle == 300 || cycle == 500 ||
            cycle == cycles) {
            std::printf("cycle %d %.1f %.1f\n", cycle, bench::heapKiB(), bench::rssKiB());
            std::fflush(stdout);
        }
    }
    return 0;
}
