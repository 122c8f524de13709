// Times one settings write until the status menu's first entry is refreshed, through the
// application's own delegate (the refresh runs synchronously from the store's changed()).
// Run with QT_QPA_PLATFORM=offscreen, an empty XDG_CONFIG_HOME and our networksetup first on
// PATH. Variant one has no network service stored, so every refresh runs the detection
// pipeline; variant two has one stored.
#include "AppDelegate.h"
#include "BenchStats.h"
#include "NetworkServices.h"
#include "SettingsKeys.h"
#include "StatusLook.h"
#include "StatusMenu.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

int runs = 200;

// Writes alternate between an empty and a named server, so that every write changes the
// entry's title; the title is checked after each one.
std::vector<double> timeWrites(AppDelegate &delegate, int count) {
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const QString server = i % 2 ? QString() : QStringLiteral("server-%1.example").arg(i);
        const QString before = delegate.menu->connectionItem().title;
        const auto start = bench::Clock::now();
        delegate.settingsStore().setText(SettingsKeys::server, server);
        samples.push_back(bench::millisecondsSince(start));
        const QString after = delegate.menu->connectionItem().title;
        if (after == before || after != configuredConnectionItem(false, server)->title) {
            std::fprintf(stderr, "the menu was not refreshed: %s -> %s\n", qPrintable(before),
                         qPrintable(after));
            std::exit(1);
        }
    }
    return samples;
}

template <typename Step> std::vector<double> timeSteps(int count, Step step) {
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const auto start = bench::Clock::now();
        step();
        samples.push_back(bench::millisecondsSince(start));
    }
    return samples;
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    if (argc > 1)
        runs = std::atoi(argv[1]);

    AppDelegate delegate;
    if (delegate.settingsStore().text(SettingsKeys::networkService)) {
        std::fprintf(stderr, "start me with an empty settings store\n");
        return 1;
    }
    delegate.applicationDidFinishLaunching();
    if (*delegate.networkService != QLatin1String("Wi-Fi"))
        std::fprintf(stderr, "warning: detected service is '%s', not Wi-Fi\n",
                     qPrintable(*delegate.networkService));
    timeWrites(delegate, 6); // warm-up

    bench::printFigure("settings write -> menu, no service stored", timeWrites(delegate, runs),
                       "ms", "< 20 ms");
    // Where that time goes.
    bench::printFigure("  of which: detection pipeline alone",
                       timeSteps(runs / 4,
                                 [] {
                                     if (defaultNetworkService().isEmpty())
                                         std::exit(1);
                                 }),
                       "ms", "-");
    bench::printFigure("  of which: loadSettings() alone",
                       timeSteps(runs / 4, [&delegate] { delegate.loadSettings(); }), "ms", "-");

    delegate.settingsStore().setText(SettingsKeys::networkService, QStringLiteral("Wi-Fi"));
    timeWrites(delegate, 6);
    bench::printFigure("settings write -> menu, service stored", timeWrites(delegate, runs), "ms",
                       "< 1 ms");
    bench::printFigure("  of which: loadSettings() alone",
                       timeSteps(runs, [&delegate] { delegate.loadSettings(); }), "ms", "-");
    bench::printFigure("  of which: configureMenu() alone",
                       timeSteps(runs, [&delegate] { delegate.configureMenu(); }), "ms", "-");
    bench::printFigure("  of which: changed() listeners alone (no write)",
                       timeSteps(runs, [&delegate] { emit delegate.settingsStore().changed(); }),
                       "ms", "-");
    // A second store on the same file, with nobody listening: the write and its sync alone.
    SettingsStore bareStore;
    int i = 0;
    bench::printFigure("  of which: store write + sync, no listeners",
                       timeSteps(runs,
                                 [&] {
                                     bareStore.setText(SettingsKeys::username,
                                                       QStringLiteral("user%1").arg(i++ % 2));
                                 }),
                       "ms", "-");
    return 0;
}
