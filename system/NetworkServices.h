#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

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
// Every service name in the service order.
QStringList listNetworkServices();

// The two pipelines' answers, each found once and then reused until the network changes: the
// services of a machine come and go with its network, not with every keystroke. The
// application's delegate and its preferences form share one, so each pipeline runs once.
class NetworkServiceCache {
public:
    // The service to use when none is chosen: the Wi-Fi service, else the first one listed (the
    // one carrying the default route, on Linux), else "". The listing runs only without Wi-Fi.
    QString detectedService();
    // The stored service when there is one, even "": detection runs only while none is stored.
    QString serviceOr(const std::optional<QString> &stored);
    // listNetworkServices()'s answer.
    QStringList services();
    // The network changed: the next question runs its pipeline again.
    void forget();

private:
    std::optional<QString> m_wifiService;
    std::optional<QStringList> m_services;
};
