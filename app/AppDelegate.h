#pragma once

#include "SettingsStore.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QMessageBox;
class ShellProcess;
class SshMonitor;
class StatusItem;
class StatusMenu;
class PreferencesWindow;
struct TunnelSettings;

// The one object that holds the application's state and receives every action of the status
// menu and every callback; main() owns exactly one for the whole process.
//
// Its members connect() and disconnect() hide QObject's: calls to those are qualified.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    // Runs once, when the event loop is about to start.
    void applicationDidFinishLaunching();

    // Copies the six settings from the store into the fields below, applying the defaults.
    void loadSettings();
    // Reloads the settings and, while not connected, refreshes the first status-menu entry.
    void configureMenu();

    void openPreferencesWindow();
    // Without a system tray the menu cannot show: say so and open the preferences window.
    void reportMissingTray();

    // Points the proxy at the local port, switches it on and starts the tunnel.
    void connect();
    // Stops the tunnel and switches the proxy off; runs every step whatever the state.
    void disconnect();
    // ssh's first chunk of output: anything but blanks or a "channel " message is an error.
    void readPipe(const QByteArray &chunk);

    // The status menu's Quit: disconnects first when connected, then ends the application.
    void quit();

    // " -i PATH" for a custom key, else "" (built from the loaded fields).
    QString sshKeyArgument() const;
    // The loaded fields as the command lines need them; only valid after loadSettings().
    TunnelSettings tunnelSettings() const;

    SettingsStore &settingsStore() { return m_settingsStore; }

    // Loaded settings; absent until the first loadSettings().
    std::optional<QString> username;
    std::optional<QString> server;
    std::optional<qint64> port;
    std::optional<QString> privateKey;
    std::optional<QString> privateKeyFile;
    std::optional<QString> networkService;

    std::unique_ptr<StatusItem> statusItem;
    std::unique_ptr<StatusMenu> menu;
    std::unique_ptr<PreferencesWindow> preferencesWindow;
    std::unique_ptr<ShellProcess> sshCommand;
    bool connected = false;

private:
    void setupStatusItem();
    void setupMenu();
    void setupPreferencesWindow();
    void applyConnectedLook();
    void applyDisconnectedLook();
    // ssh ended by itself while the tunnel was up.
    void sshEnded(const QString &message);
    void showSshError(const QString &text);
    // Runs a proxy command and waits; a failure is shown, since the desktop's proxy is then
    // not what the menu says.
    void runProxyCommand(const QString &commandLine);

    SettingsStore m_settingsStore;
    std::unique_ptr<SshMonitor> m_sshMonitor;
    std::unique_ptr<QMessageBox> m_missingTrayNotice;
    // The network service whose proxy the last connect switched on.
    std::optional<QString> m_switchedService;
};
