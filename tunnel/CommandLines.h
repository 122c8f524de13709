#pragma once

#include <QString>

// The values the tunnel's command lines are built from, as the delegate last loaded them.
struct TunnelSettings {
    QString networkService;
    qint64 port = 0;
    QString username;
    QString server;
    QString privateKey;
    QString privateKeyFile;
    // How often ssh asks the server whether it is still there when it has heard nothing.
    int serverAliveSeconds = 10;
};

// Every value below reaches its tool as exactly one literal argument: ordinary values are
// written as they are, and only what bash would otherwise interpret is escaped or quoted.

// " -i PATH" for a custom key, or "" for ssh's own keys ("default") or an empty path.
// A leading "~/" is left for the shell to expand to the home directory.
QString sshKeyArgument(const QString &privateKey, const QString &privateKeyFile);

// The options that make ssh the tunnel we rely on, whatever the user's ssh configuration says:
// a connection of its own (never a shared master that outlives it or one that is not ours), an
// exit when it cannot listen on the port, and a server that stops answering noticed.
QString sshTunnelOptions(const TunnelSettings &settings);

QString proxyAddressCommand(const TunnelSettings &settings);
QString proxyOnCommand(const TunnelSettings &settings);
QString proxyOffCommand(const TunnelSettings &settings);
QString tunnelCommand(const TunnelSettings &settings);

// Text safe between bash's double quotes: \ " $ and ` are escaped, nothing else changes.
QString escapedForDoubleQuotes(const QString &value);
// One bash word for the value: unchanged when it has nothing bash would interpret,
// single-quoted otherwise.
QString shellWord(const QString &value);
