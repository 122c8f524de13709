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
