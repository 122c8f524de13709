#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The two listing pipelines, character for character.
inline const QString defaultServicePipeline =
    QStringLiteral("networksetup -listnetworkserviceorder | grep -B1 'Hardware Port: Wi-Fi' | "
                   "sed -n -e 's/([0-9]\\{1,\\}) \\(.*\\)/\\1/p'");
inline const QString serviceListPipeline = QStringLiteral(
    "networksetup -listnetworkserviceorder | sed -n -e 's/([0-9]\\{1,\\}) \\(.*\\)/\\1/p'");

// A pipeline's output as lines: decoded as UTF-8 (invalid bytes replaced), trimmed at both
// ends of the whole text, split at every line feed. Never empty: no output gives one "".
QStringList listingLines(const QByteArray &output);

// The first Wi-Fi service in the service order, or "" when there is none.
QString defaultNetworkService();
// The service to use when none is chosen: the detected Wi-Fi service, else the first one listed
// (the one carrying the default route, on Linux), else "".
QString fallbackNetworkService(const QString &detected, const QStringList &listing);
// defaultNetworkService(), falling back to the listing on a machine without Wi-Fi.
QString detectNetworkService();
// Every service name in the service order.
QStringList listNetworkServices();
