#pragma once

#include "SettingsStore.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class ConnectionController;
class NetworkServiceCache;
class NetworkWatcher;
class SleepWatcher;
class ShellProcess;
class StatusItem;
class StatusMenu;
class PreferencesWindow;
class QMessageBox;
struct CommandOutcome;
struct TunnelSettings;

// The one object that holds the application's state and receives every action of the status
// menu and every callback; main() owns exactly one for the whole process. The tunnel itself is
// the connection controller's business: the delegate passes requests on and keeps the menu,
// the icon and the messages in step with it.
//
// Its members connect() and disconnect() hide QObject's: calls to those are qualified.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QObject *parent = nullptr);
    // A running ssh is deliberately left alone (the window's Quit keeps the tunnel); the next
    // launch takes it over.
    ~AppDelegate() override;

    // Runs once, when the event loop is about to start.
    void applicationDidFinishLaunching();

    // Copies the six settings from the store into the fields below, applying the defaults.
    void loadSettings();
    // Reloads the server and, while not connected, refreshes the first status-menu entry (the
    // rest of the settings are loaded when a connect starts).
    void configureMenu();

    void openPreferencesWindow();
    // Without a system tray the menu cannot show: say so and open the preferences window.
    void reportMissingTray();
    // Where our networksetup should be but is not; every Connect then says so.
    void setMissingHelperDirectory(const QString &directory) {
        m_missingHelperDirectory = directory;
    }

    // Points the proxy at the local port, switches it on and starts the tunnel, after whatever
    // was asked before has been done.
    void connect();
    // Stops the tunnel and switches the proxy off, in turn likewise.
    void disconnect();

    // The status menu's Quit: disconnects first when connected, then ends the application.
    void quit();
    // A termination signal or the end of the session: the same, ahead of anything waiting.
    void quitNow();

    // " -i PATH" for a custom key, else "" (built from the loaded fields).
    QString sshKeyArgument() const;
    // The loaded fields as the command lines need them; only valid after loadSettings().
    TunnelSettings tunnelSettings() const;

    SettingsStore &settingsStore() { return m_settingsStore; }
    ConnectionController &connection() { return *m_connection; }
    bool connected() const;
    // The ssh process of the current or last tunnel, if any.
    ShellProcess *sshCommand() const;

    // Loaded settings; absent until the first loadSettings() (the server: configureMenu()).
    std::optional<QString> username;
    std::optional<QString> server;
    std::optional<qint64> port;
    std::optional<QString> privateKey;
    std::optional<QString> privateKeyFile;
    std::optional<QString> networkService;

    std::unique_ptr<StatusItem> statusItem;
    std::unique_ptr<StatusMenu> menu;
    std::unique_ptr<PreferencesWindow> preferencesWindow;

private:
    void setupStatusItem();
    void setupMenu();
    void setupPreferencesWindow();
    void setupWindowIcon();
    void setupConnection();
    void watchTheSystem();
    void applyConnectedLook();
    void applyTunnelToolTip();
    void tellReconnecting(bool reconnecting);
    void applyDisconnectedLook();
    void showSshError(const QString &text);
    void showProxyFailures(const QList<CommandOutcome> &failures);
    void showNotice(const QString &text);

    SettingsStore m_settingsStore;
    // Found once and shared with the preferences form; forgotten when the network changes.
    std::shared_ptr<NetworkServiceCache> m_networkServices;
    std::unique_ptr<ConnectionController> m_connection;
    std::unique_ptr<NetworkWatcher> m_networkWatcher;
    std::unique_ptr<SleepWatcher> m_sleepWatcher;
    QString m_missingHelperDirectory;
    // A warning about the proxy that a quit from the menu waits for, so that it is read.
    QPointer<QMessageBox> m_proxyWarning;
    bool m_quitUrgently = false;
    QTimer m_backNotice; // "back" is told once the tunnel has stayed up a moment
    bool m_dropTold = false;
    bool m_windowIconSet = false;
};
