// Flips the tray icon between its connected and disconnected looks and prints the heap in use
// and the resident set after 1, 100 and 1,000 flips, and the time of one flip. Run it with a
// tray (Xvfb and trayer, as bench/run does) so that the tray really draws every look.
#include "StatusItem.h"
#include "StatusLook.h"

#include "BenchProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSystemTrayIcon>
#include <QThread>

#include <cstdio>
#include <malloc.h>

namespace {} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const int flips = argc > 1 ? std::atoi(argv[1]) : 1000;

    for (int i = 0; i < 100 && !QSystemTrayIcon::isSystemTrayAvailable(); ++i)
        QThread::msleep(50);
    std::printf("tray available: %s\n", QSystemTrayIcon::isSystemTrayAvailable() ? "yes" : "no");

    QElapsedTimer timer;
    timer.start();
    StatusItem item;
    item.setOpacity(statusOpacity(false));
    const qint64 made = timer.nsecsElapsed();
    bench::settle();
    const qint64 drawn = timer.nsecsElapsed();
    std::printf("making the icon %.3f ms, until the tray has drawn it %.3f ms\n",
                double(made) / 1e6, double(drawn) / 1e6);
    const double heap0 = bench::heapKiB(), rss0 = bench::rssKiB();
    std::printf("%-34s heap %9.1f KiB  RSS %9.1f KiB\n", "before the first flip", heap0, rss0);

    qint64 flipNanoseconds = 0;
    for (int flip = 1; flip <= flips; ++flip) {
        timer.start();
        item.setOpacity(statusOpacity(flip % 2 == 1));
        flipNanoseconds += timer.nsecsElapsed();
        bench::settle();
        if (flip == 1 || flip == 100 || flip == 1000 || flip == flips) {
            const double heap = bench::heapKiB(), rss = bench::rssKiB();
            std::printf("after %5d flips %17s heap %+9.1f KiB  RSS %+9.1f KiB\n", flip, "",
                        heap - heap0, rss - rss0);
        }
    }
    std::printf("one flip (setting the look), mean %.1f us over %d\n",
                double(flipNanoseconds) / 1e3 / flips, flips);
    return 0;
}
