#include "StatusLook.h"

#include <QCoreApplication>

namespace {
ConnectionItem notConfigured() {
    return {QCoreApplication::translate("StatusMenu", "Not Configured"), ConnectionAction::None};
}
ConnectionItem connectItem() {
    return {QCoreApplication::translate("StatusMenu", "Connect"), ConnectionAction::Connect};
}
} // namespace

ConnectionItem initialConnectionItem() {
    return notConfigured();
}

std::optional<ConnectionItem> configuredConnectionItem(bool connected, const QString &server) {
    if (connected)
        return std::nullopt;
    return server.isEmpty() ? notConfigured() : connectItem();
}

ConnectionItem connectedConnectionItem() {
    return {QCoreApplication::translate("StatusMenu", "Disconnect"), ConnectionAction::Disconnect};
}

ConnectionItem disconnectedConnectionItem() {
    return connectItem();
}

QString statusToolTip(StatusState state, const QString &username, const QString &server,
                      qint64 port) {
    switch (state) {
    case StatusState::NotConfigured:
        return QCoreApplication::translate("StatusItem", "Zentrel VPN \u2014 Not configured");
    case StatusState::NotConnected:
        return QCoreApplication::translate("StatusItem", "Zentrel VPN \u2014 Not connected");
    case StatusState::Connecting:
        return QCoreApplication::translate("StatusItem", "Zentrel VPN \u2014 Connecting\u2026");
    case StatusState::Reconnecting:
        return QCoreApplication::translate("StatusItem", "Zentrel VPN \u2014 Reconnecting\u2026");
    case StatusState::Connected:
        break;
    }
    return QCoreApplication::translate("StatusItem",
                                       "Zentrel VPN \u2014 Connected to %1@%2 (port %3)")
        .arg(username, server, QString::number(port));
}

QString upTimeText(qint64 seconds, std::optional<int> roundTripMs) {
    const qint64 minutes = seconds / 60;
    QString text;
    if (minutes < 1)
        text = QCoreApplication::translate("StatusItem", "under a minute");
    else if (minutes < 60)
        text = QCoreApplication::translate("StatusItem", "%1 min").arg(minutes);
    else
        text = QCoreApplication::translate("StatusItem", "%1 h %2 min")
                   .arg(minutes / 60)
                   .arg(minutes % 60);
    if (roundTripMs)
        text += QCoreApplication::translate("StatusItem", ", %1 ms").arg(*roundTripMs);
    return text;
}

QString reconnectingText(const QString &since, int tries) {
    return QCoreApplication::translate("StatusItem", "(since %1, tries: %2)").arg(since).arg(tries);
}
