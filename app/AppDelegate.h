#pragma once

#include "SettingsStore.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;
class QWidget;
class ShellProcess;
struct TunnelSettings;

// The one object that holds the application's state and receives every action of the status
// menu and every callback; main() owns exactly one for the whole process.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    // Runs once, when the event loop is about to start.
    void applicationDidFinishLaunching();

    // Copies the six settings from the store into the fields below, applying the defaults.
    void loadSettings();

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

    std::unique_ptr<QSystemTrayIcon> statusItem;
    std::unique_ptr<QMenu> menu;
    std::unique_ptr<QWidget> preferencesWindow;
    std::unique_ptr<ShellProcess> sshCommand;
    bool connected = false;

private:
    SettingsStore m_settingsStore;
};
