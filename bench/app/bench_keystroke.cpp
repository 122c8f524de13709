// One keystroke in the preferences form's server field, with the whole application behind it
// (the delegate refreshes the status menu on every store change). Usage:
//   bench_keystroke unstored|stored
// with an empty settings store and our networksetup first on PATH; then as Keystrokes.h says.
#include "AppDelegate.h"
#include "Keystrokes.h"
#include "PreferencesView.h"
#include "PreferencesWindow.h"
#include "SettingsKeys.h"

#include <QApplication>
#include <QLineEdit>

#include <cstring>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const bool stored = argc > 1 && std::strcmp(argv[1], "stored") == 0;

    AppDelegate delegate;
    SettingsStore &store = delegate.settingsStore();
    if (store.text(SettingsKeys::networkService)) {
        std::fprintf(stderr, "start me with an empty settings store\n");
        return 1;
    }
    store.setText(SettingsKeys::server, QStringLiteral("vpn.example.org"));
    if (stored)
        store.setText(SettingsKeys::networkService, QStringLiteral("Wi-Fi"));
    delegate.applicationDidFinishLaunching();
    delegate.openPreferencesWindow();
    delegate.loadSettings();
    if (*delegate.networkService != QLatin1String("Wi-Fi"))
        std::fprintf(stderr, "warning: the service is '%s', not Wi-Fi\n",
                     qPrintable(*delegate.networkService));
    auto *server = delegate.preferencesWindow->findChild<QLineEdit *>(QStringLiteral("server"));
    if (!server) {
        std::fprintf(stderr, "no server field\n");
        return 1;
    }
    return bench::serveKeystrokes(*server, store.location(), QString(SettingsKeys::server));
}
