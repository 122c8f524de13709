#include "AppDelegate.h"

#include "AskPass.h"
#include "CommandLines.h"
#include "ConnectionController.h"
#include "DesktopNotification.h"
#include "MainMenu.h"
#include "MessageBoxes.h"
#include "NetworkServices.h"
#include "NetworkWatcher.h"
#include "PreferencesWindow.h"
#include "SettingsKeys.h"
#include "ShellProcess.h"
#include "SleepWatcher.h"
#include "StatusItem.h"
#include "StatusMenu.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMessageBox>

AppDelegate::AppDelegate(QObject *parent)
    : QObject(parent), m_networkServices(std::make_shared<NetworkServiceCache>()) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    setupStatusItem();
    setupMenu();
    configureMenu();
    setupPreferencesWindow();
    QObject::connect(&m_settingsStore, &SettingsStore::changed, this, &AppDelegate::configureMenu);
    setupConnection();
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
    preferencesWindow = std::make_unique<PreferencesWindow>(m_settingsStore, m_networkServices);
    installMainMenu(*preferencesWindow);
}

void AppDelegate::setupWindowIcon() {
    // Every window's icon, ours and the messages'. Looked up only once one is to be shown:
    // reading the icon theme takes a few milliseconds that the tray icon need not wait for.
    if (m_windowIconSet)
        return;
    m_windowIconSet = true;
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("zentrel-vpn")));
}

void AppDelegate::setupConnection() {
    m_connection = std::make_unique<ConnectionController>(
        [this] {
            loadSettings();
            return tunnelSettings();
        },
        TunnelRecordFile());
    ConnectionController *connection = m_connection.get();
    // ssh asks in our own dialog: about a new server's key, a passphrase, a password.
    connection->setSshEnvironment(
        askPassEnvironment(askPassProgram(QCoreApplication::applicationDirPath())));
    QObject::connect(
        connection, &ConnectionController::connectedChanged, this, [this](bool connected) {
            if (connected) {
                applyConnectedLook();
            } else {
                m_dropTold = false; // a tunnel that is gone is no drop to come back from
                m_backNotice.stop();
                applyDisconnectedLook();
            }
        });
    QObject::connect(connection, &ConnectionController::tunnelFailed, this,
                     &AppDelegate::showSshError);
    QObject::connect(connection, &ConnectionController::proxyCommandsFailed, this,
                     &AppDelegate::showProxyFailures);
    QObject::connect(connection, &ConnectionController::notice, this, &AppDelegate::showNotice);
    // quit() would first send close requests to the windows; end the loop directly instead. A
    // proxy that could not be switched off is told before the end, unless the end is urgent.
    QObject::connect(connection, &ConnectionController::quitReady, this, [this] {
        if (m_proxyWarning && !m_quitUrgently)
            QObject::connect(m_proxyWarning, &QMessageBox::finished, this,
                             [] { QCoreApplication::exit(0); });
        else
            QCoreApplication::exit(0);
    });
    // Refreshed at each look at the tunnel: no timer of its own wakes the machine.
    const auto refreshToolTip = [this] {
        if (connected())
            applyTunnelToolTip();
    };
    QObject::connect(connection, &ConnectionController::upChanged, this, refreshToolTip);
    QObject::connect(&connection->supervisor(), &TunnelSupervisor::healthChanged, this,
                     refreshToolTip);
    QObject::connect(connection, &ConnectionController::reconnectingChanged, this,
                     &AppDelegate::tellReconnecting);
    m_backNotice.setSingleShot(true);
    m_backNotice.setInterval(3000);
    QObject::connect(&m_backNotice, &QTimer::timeout, this, [this] {
        m_dropTold = false;
        if (m_connection->isUp())
            notifyDesktop(
                tr("The tunnel is back"),
                tr("Your traffic goes through %1 again.").arg(m_connection->tunnel().server));
    });
    watchTheSystem();
    // A tunnel that outlived an earlier run is taken over; a proxy it left on is put back.
    connection->recoverEarlierRun();
}

void AppDelegate::watchTheSystem() {
    TunnelSupervisor &supervisor = m_connection->supervisor();
    m_networkWatcher = std::make_unique<NetworkWatcher>();
    supervisor.setNetworkUp(m_networkWatcher->isNetworkUp());
    // The network is there when the server is reachable, which the first reading could only
    // guess: a route to the server alone (no default route) counts too.
    QObject::connect(&supervisor, &TunnelSupervisor::serverAddressChanged, this,
                     [this, &supervisor](const QByteArray &address) {
                         m_networkWatcher->setDestination(address);
                         supervisor.setNetworkUp(m_networkWatcher->isNetworkUp());
                     });
    // Another network may have other services: detect again when next asked.
    QObject::connect(m_networkWatcher.get(), &NetworkWatcher::changed, this,
                     [this] { m_networkServices->forget(); });
    QObject::connect(m_networkWatcher.get(), &NetworkWatcher::changed, &supervisor,
                     [&supervisor](NetworkChange change) {
                         switch (change) {
                         case NetworkChange::Lost:
                             supervisor.networkLost();
                             break;
                         case NetworkChange::Returned:
                             supervisor.networkReturned();
                             break;
                         case NetworkChange::Changed:
                             supervisor.networkChanged();
                             break;
                         case NetworkChange::None:
                             break;
                         }
                     });
    m_sleepWatcher = std::make_unique<SleepWatcher>();
    QObject::connect(m_sleepWatcher.get(), &SleepWatcher::resumed, &supervisor,
                     &TunnelSupervisor::resumed);
    // Shutting down ends the session too: disconnect while there is time.
    QObject::connect(m_sleepWatcher.get(), &SleepWatcher::shuttingDown, this,
                     &AppDelegate::quitNow);
}

void AppDelegate::openPreferencesWindow() {
    setupWindowIcon();
    preferencesWindow->open();
}

void AppDelegate::reportMissingTray() {
    openPreferencesWindow();
    // Not modal: the preferences window stays usable, and the tray icon shows by itself as
    // soon as a tray appears.
    QMessageBox *notice = makeMessageBox(
        QMessageBox::Information,
        tr("Zentrel VPN cannot show its menu: your desktop has no system tray."),
        tr("Connect and Disconnect live in the Zentrel VPN icon in the system tray. "
           "On GNOME, install and enable the AppIndicator extension "
           "(package gnome-shell-extension-appindicator), then log out and back in; on other "
           "desktops, add a system tray or status notifier area to a panel. The icon appears as "
           "soon as a tray is there, without restarting Zentrel VPN.\n\n"
           "Meanwhile you can set up your connection in the preferences window."),
        preferencesWindow.get());
    notice->setWindowModality(Qt::NonModal);
    notice->show();
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

    networkService = m_networkServices->serviceOr(store.text(SettingsKeys::networkService));
}

void AppDelegate::configureMenu() {
    // The entry depends on the server alone; reading the rest here would cost every keystroke in
    // the form a detection pipeline while no service is stored.
    server = m_settingsStore.text(SettingsKeys::server).value_or(DelegateDefaults::server);
    if (const auto item = configuredConnectionItem(connected(), *server))
        menu->setConnectionItem(*item);
    if (!connected())
        statusItem->setToolTip(statusToolTip(server->isEmpty() ? StatusState::NotConfigured
                                                               : StatusState::NotConnected));
}

void AppDelegate::connect() {
    if (!m_missingHelperDirectory.isEmpty())
        showNotice(tr("Zentrel VPN cannot switch your desktop's proxy: its helper program "
                      "networksetup is missing from %1. Reinstall Zentrel VPN to put it back.")
                       .arg(m_missingHelperDirectory));
    m_connection->requestConnect();
}

void AppDelegate::disconnect() {
    m_connection->requestDisconnect();
}

void AppDelegate::quit() {
    m_proxyWarning.clear(); // only a warning of the quit's own is waited for
    m_connection->requestQuit();
}

void AppDelegate::quitNow() {
    m_quitUrgently = true;
    m_connection->requestQuit(ConnectionController::QuitUrgency::Urgent);
}

bool AppDelegate::connected() const {
    return m_connection && m_connection->isConnected();
}

ShellProcess *AppDelegate::sshCommand() const {
    return m_connection ? m_connection->sshProcess() : nullptr;
}

void AppDelegate::showSshError(const QString &text) {
    setupWindowIcon();
    QMessageBox *alert = makeMessageBox(QMessageBox::Critical, tr("SSH Error"), text);
    // Modal for the user, without a nested event loop: what they ask meanwhile waits its turn.
    alert->setWindowModality(Qt::ApplicationModal);
    QObject::connect(alert, &QMessageBox::finished, m_connection.get(),
                     &ConnectionController::failureAcknowledged);
    alert->show();
}

void AppDelegate::showProxyFailures(const QList<CommandOutcome> &failures) {
    setupWindowIcon();
    QStringList descriptions;
    for (const CommandOutcome &failure : failures)
        descriptions << failure.commandLine + QLatin1Char('\n') + failureDescription(failure);
    QMessageBox *warning = makeMessageBox(
        QMessageBox::Warning, tr("The proxy setting could not be changed"),
        (failures.size() == 1 ? tr("This command failed:") : tr("These commands failed:")) +
            QStringLiteral("\n\n") + descriptions.join(QStringLiteral("\n\n")));
    warning->setWindowModality(Qt::NonModal);
    warning->show();
    m_proxyWarning = warning;
}

void AppDelegate::showNotice(const QString &text) {
    setupWindowIcon();
    QMessageBox *notice = makeMessageBox(QMessageBox::Information, text, QString());
    notice->setWindowModality(Qt::NonModal);
    notice->show();
}

void AppDelegate::applyConnectedLook() {
    statusItem->setOpacity(statusOpacity(true));
    menu->setConnectionItem(connectedConnectionItem());
    applyTunnelToolTip();
}

void AppDelegate::applyTunnelToolTip() {
    // "Connected" only once our ssh holds the port; the tunnel may be an earlier run's or older
    // than the settings now.
    const TunnelSettings &tunnel = m_connection->tunnel();
    const ConnectionController::State tunnelState = m_connection->state();
    const StatusState state =
        tunnelState == ConnectionController::State::Reconnecting ? StatusState::Reconnecting
        : tunnelState == ConnectionController::State::Up         ? StatusState::Connected
                                                                 : StatusState::Connecting;
    QString tip = statusToolTip(state, tunnel.username, tunnel.server, tunnel.port);
    const TunnelSupervisor::Health &health = m_connection->supervisor().health();
    if (state == StatusState::Connected && health.upSince.isValid())
        tip += QStringLiteral(" \u2014 ") +
               upTimeText(health.upSince.secsTo(QDateTime::currentDateTime()), health.roundTripMs);
    else if (state == StatusState::Reconnecting && health.reconnectingSince.isValid())
        tip += QLatin1Char(' ') +
               reconnectingText(health.reconnectingSince.toString(QStringLiteral("HH:mm")),
                                health.tries);
    statusItem->setToolTip(tip);
}

void AppDelegate::tellReconnecting(bool reconnecting) {
    // Once when the tunnel drops by itself and once when it is back, so that a user who does
    // not look at the tray knows why pages failed for a moment. A tunnel that drops again
    // right after it came back is still the same drop.
    if (reconnecting) {
        m_backNotice.stop();
        if (!m_dropTold)
            notifyDesktop(tr("The tunnel dropped"),
                          tr("Zentrel VPN is bringing it back; until then pages may fail to "
                             "load."));
        m_dropTold = true;
    } else if (m_dropTold && m_connection->isUp()) {
        m_backNotice.start();
    }
}

void AppDelegate::applyDisconnectedLook() {
    statusItem->setOpacity(statusOpacity(false));
    menu->setConnectionItem(disconnectedConnectionItem());
    statusItem->setToolTip(statusToolTip(StatusState::NotConnected));
}

QString AppDelegate::sshKeyArgument() const {
    return ::sshKeyArgument(privateKey.value(), privateKeyFile.value());
}

TunnelSettings AppDelegate::tunnelSettings() const {
    return TunnelSettings{networkService.value(), port.value(),       username.value(),
                          server.value(),         privateKey.value(), privateKeyFile.value()};
}
