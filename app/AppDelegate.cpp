#include "AppDelegate.h"

#include "CommandLines.h"
#include "MainMenu.h"
#include "NetworkServices.h"
#include "PreferencesWindow.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"
#include "SshMonitor.h"
#include "StatusItem.h"
#include "StatusMenu.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>

AppDelegate::AppDelegate(QObject *parent) : QObject(parent) {}

// A running ssh is deliberately left alone: only disconnect stops it.
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    setupStatusItem();
    setupMenu();
    configureMenu();
    setupPreferencesWindow();
    QObject::connect(&m_settingsStore, &SettingsStore::changed, this, &AppDelegate::configureMenu);
}

void AppDelegate::setupStatusItem() {
    statusItem = std::make_unique<StatusItem>();
    statusItem->setOpacity(statusOpacity(false));
}

void AppDelegate::setupMenu() {
    menu = std::make_unique<StatusMenu>();
    QObject::connect(menu.get(), &StatusMenu::connectRequested, this, &AppDelegate::connect);
    QObject::connect(menu.get(), &StatusMenu::disconnectRequested, this, &AppDelegate::disconnect);
    QObject::connect(menu->preferencesAction(), &QAction::triggered, this,
                     &AppDelegate::openPreferencesWindow);
    QObject::connect(menu->quitAction(), &QAction::triggered, this, &AppDelegate::quit);
    statusItem->setMenu(menu.get());
}

void AppDelegate::setupPreferencesWindow() {
    // Made once, hidden; closing it only hides it again, so it lives as long as we do.
    preferencesWindow = std::make_unique<PreferencesWindow>(m_settingsStore);
    installMainMenu(*preferencesWindow);
}

void AppDelegate::openPreferencesWindow() {
    preferencesWindow->open();
}

void AppDelegate::reportMissingTray() {
    openPreferencesWindow();
    // Not modal: the preferences window stays usable, and the tray icon shows by itself as
    // soon as a tray appears.
    m_missingTrayNotice = std::make_unique<QMessageBox>(
        QMessageBox::Information, QStringLiteral("Zentrel VPN"),
        tr("Zentrel VPN cannot show its menu: your desktop has no system tray."), QMessageBox::Ok,
        preferencesWindow.get());
    m_missingTrayNotice->setInformativeText(
        tr("Connect and Disconnect live in the Zentrel VPN icon in the system tray. "
           "On GNOME, install and enable the AppIndicator extension "
           "(package gnome-shell-extension-appindicator), then log out and back in; on other "
           "desktops, add a system tray or status notifier area to a panel. The icon appears as "
           "soon as a tray is there, without restarting Zentrel VPN.\n\n"
           "Meanwhile you can set up your connection in the preferences window."));
    m_missingTrayNotice->setWindowModality(Qt::NonModal);
    m_missingTrayNotice->show();
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

void AppDelegate::configureMenu() {
    loadSettings();
    if (const auto item = configuredConnectionItem(connected, *server))
        menu->setConnectionItem(*item);
    if (!connected)
        statusItem->setToolTip(statusToolTip(server->isEmpty() ? StatusState::NotConfigured
                                                               : StatusState::NotConnected));
}

void AppDelegate::connect() {
    const TunnelSettings settings = tunnelSettings();
    runProxyCommand(proxyAddressCommand(settings));
    runProxyCommand(proxyOnCommand(settings));
    m_switchedService = settings.networkService;

    // The previous tunnel's handle may be in the middle of reporting; let it finish first.
    if (sshCommand)
        sshCommand.release()->deleteLater();
    sshCommand = runShellCommand(tunnelCommand(settings));
    m_sshMonitor = std::make_unique<SshMonitor>(*sshCommand);
    QObject::connect(m_sshMonitor.get(), &SshMonitor::firstChunk, this, &AppDelegate::readPipe);
    QObject::connect(m_sshMonitor.get(), &SshMonitor::ended, this, &AppDelegate::sshEnded);

    connected = true;
    applyConnectedLook();
}

void AppDelegate::disconnect() {
    if (sshCommand)
        sshCommand->terminate();
    // Switch off the service that connect switched on, even if another one has been picked
    // since: switching off the new one would leave the old one pointing at a dead tunnel.
    TunnelSettings settings = tunnelSettings();
    if (m_switchedService)
        settings.networkService = *m_switchedService;
    runProxyCommand(proxyOffCommand(settings));
    connected = false;
    applyDisconnectedLook();
}

void AppDelegate::readPipe(const QByteArray &chunk) {
    const std::optional<QString> error = sshErrorText(chunk);
    if (!error)
        return;
    disconnect();
    showSshError(*error);
}

void AppDelegate::sshEnded(const QString &message) {
    if (!connected)
        return;
    disconnect();
    showSshError(message);
}

void AppDelegate::showSshError(const QString &text) {
    QMessageBox alert(QMessageBox::Critical, QStringLiteral("Zentrel VPN"), tr("SSH Error"),
                      QMessageBox::Ok);
    alert.setInformativeText(text);
    alert.exec();
}

void AppDelegate::runProxyCommand(const QString &commandLine) {
    const std::unique_ptr<ShellProcess> command = runShellCommand(commandLine);
    command->waitForExit();
    const std::optional<int> exitCode = command->exitCode();
    if (!command->wasLaunched() || (exitCode && *exitCode == 0))
        return;
    QMessageBox warning(QMessageBox::Warning, QStringLiteral("Zentrel VPN"),
                        tr("The proxy setting could not be changed"), QMessageBox::Ok);
    const QString output = QString::fromUtf8(command->readToEnd()).trimmed();
    warning.setInformativeText(
        tr("This command failed:\n%1\n\n%2")
            .arg(commandLine, output.isEmpty() ? tr("(no output)") : output));
    warning.exec();
}

void AppDelegate::applyConnectedLook() {
    statusItem->setOpacity(statusOpacity(true));
    menu->setConnectionItem(connectedConnectionItem());
    statusItem->setToolTip(statusToolTip(StatusState::Connected, *username, *server, *port));
}

void AppDelegate::applyDisconnectedLook() {
    statusItem->setOpacity(statusOpacity(false));
    menu->setConnectionItem(disconnectedConnectionItem());
    statusItem->setToolTip(statusToolTip(StatusState::NotConnected));
}

void AppDelegate::quit() {
    if (connected)
        disconnect();
    // quit() would first send close requests to the windows; end the loop directly instead.
    QCoreApplication::exit(0);
}

QString AppDelegate::sshKeyArgument() const {
    return ::sshKeyArgument(privateKey.value(), privateKeyFile.value());
}

TunnelSettings AppDelegate::tunnelSettings() const {
    return TunnelSettings{networkService.value(), port.value(),       username.value(),
                          server.value(),         privateKey.value(), privateKeyFile.value()};
}
