#include "CommandLines.h"

#include <QLatin1String>

#include <algorithm>

namespace {
bool isPlainWordCharacter(QChar c) {
    if (c.unicode() >= 0x80)
        return true; // bash gives no meaning to non-ASCII characters
    return c.isLetterOrNumber() || QLatin1String("_@%+=:,./-").contains(c);
}

QString quotedService(const TunnelSettings &settings) {
    return QLatin1Char('"') + escapedForDoubleQuotes(settings.networkService) + QLatin1Char('"');
}

QString proxyStateCommand(const TunnelSettings &settings, QLatin1String state) {
    return QLatin1String("networksetup -setsocksfirewallproxystate ") + quotedService(settings) +
           QLatin1Char(' ') + state;
}
} // namespace

QString escapedForDoubleQuotes(const QString &value) {
    QString escaped;
    escaped.reserve(value.size());
    for (QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"') || c == QLatin1Char('$') ||
            c == QLatin1Char('`'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}

QString shellWord(const QString &value) {
    if (!value.isEmpty() && std::all_of(value.begin(), value.end(), isPlainWordCharacter))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString sshKeyArgument(const QString &privateKey, const QString &privateKeyFile) {
    if (privateKey == QLatin1String("default") || privateKeyFile.isEmpty())
        return QString();
    const QLatin1String home("~/");
    if (privateKeyFile.startsWith(home) && privateKeyFile.size() > home.size())
        return QLatin1String(" -i ~/") + shellWord(privateKeyFile.mid(home.size()));
    return QLatin1String(" -i ") + shellWord(privateKeyFile);
}

QString sshTunnelOptions(const TunnelSettings &settings) {
    return QLatin1String(
               " -o ControlPath=none -o ExitOnForwardFailure=yes -o ServerAliveInterval=") +
           QString::number(settings.serverAliveSeconds);
}

QString proxyAddressCommand(const TunnelSettings &settings) {
    return QLatin1String("networksetup -setsocksfirewallproxy ") + quotedService(settings) +
           QLatin1String(" localhost ") + QString::number(settings.port);
}

QString proxyOnCommand(const TunnelSettings &settings) {
    return proxyStateCommand(settings, QLatin1String("on"));
}

QString proxyOffCommand(const TunnelSettings &settings) {
    return proxyStateCommand(settings, QLatin1String("off"));
}

QString tunnelCommand(const TunnelSettings &settings) {
    const QString destination = settings.username + QLatin1Char('@') + settings.server;
    const QString quotedDestination =
        QLatin1Char('"') + escapedForDoubleQuotes(destination) + QLatin1Char('"');
    const QString keyArgument = sshKeyArgument(settings.privateKey, settings.privateKeyFile);
    const QString forwarding =
        QLatin1String("ssh -NTCD") + QString::number(settings.port) + sshTunnelOptions(settings);
    // A destination that begins with "-" would be read as an option: end the options first.
    // ssh reads no options after "--", so the key moves in front of it.
    if (destination.startsWith(QLatin1Char('-')))
        return forwarding + keyArgument + QLatin1String(" -- ") + quotedDestination;
    return forwarding + QLatin1Char(' ') + quotedDestination + keyArgument;
}
