#include "AppDelegate.h"

#include "CommandLines.h"
#include "NetworkServices.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"

#include <QCoreApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

AppDelegate::AppDelegate(QObject *parent) : QObject(parent) {}

// A running ssh is deliberately left alone: only disconnect stops it.
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    loadSettings();
}

void AppDelegate::loadSettings() {
    const SettingsStore &store = m_settingsStore;

    username = store.text(SettingsKeys::username).value_or(currentLoginName());
    if (username->isEmpty())
        username = currentLoginName();

    server = store.text(SettingsKeys::server).value_or(DelegateDefaults::server);

    port = store.integer(SettingsKeys::port).value_or(0);
    if (*port == 0)
        port = DelegateDefaults::port;

    privateKey = store.text(SettingsKeys::privateKey).value_or(DelegateDefaults::privateKey);
    privateKeyFile =
        store.text(SettingsKeys::privateKeyFile).value_or(DelegateDefaults::privateKeyFile);

    // Detection runs only while no service is stored; a stored empty name stays empty.
    const std::optional<QString> storedService = store.text(SettingsKeys::networkService);
    networkService = storedService ? *storedService : defaultNetworkService();
}

QString AppDelegate::sshKeyArgument() const {
    return ::sshKeyArgument(privateKey.value(), privateKeyFile.value());
}

TunnelSettings AppDelegate::tunnelSettings() const {
    return TunnelSettings{networkService.value(), port.value(),       username.value(),
                          server.value(),         privateKey.value(), privateKeyFile.value()};
}

void AppDelegate::quit() {
    QCoreApplication::quit();
}
