#pragma once

#include <QString>

#include <optional>

// What the first status-menu entry offers.
enum class ConnectionAction { None, Connect, Disconnect };

struct ConnectionItem {
    QString title;
    ConnectionAction action = ConnectionAction::None;

    bool operator==(const ConnectionItem &other) const {
        return title == other.title && action == other.action;
    }
};

// The entry as first made, before any settings are loaded.
ConnectionItem initialConnectionItem();
// After a settings load: "Not Configured" for an empty server, else "Connect"; nothing changes
// while connected.
std::optional<ConnectionItem> configuredConnectionItem(bool connected, const QString &server);
ConnectionItem connectedConnectionItem();
// After a disconnect the entry offers "Connect" whatever the server holds.
ConnectionItem disconnectedConnectionItem();

// What the tray icon's tooltip tells.
enum class StatusState { NotConfigured, NotConnected, Connecting, Connected, Reconnecting };

// "Zentrel VPN — Not configured", "… — Not connected", "… — Connecting…", "… — Connected to
// USER@SERVER (port PORT)", "… — Reconnecting…"; user, server and port count only while connected.
QString statusToolTip(StatusState state, const QString &username = QString(),
                      const QString &server = QString(), qint64 port = 0);

// How long the tunnel has been up, as a person reads it: "under a minute", "12 min",
// "1 h 12 min"; with the last round-trip time when there is one: "1 h 12 min, 38 ms".
QString upTimeText(qint64 seconds, std::optional<int> roundTripMs = std::nullopt);
// "(since 10:32, tries: 3)" for a tunnel being brought back.
QString reconnectingText(const QString &since, int tries);

// The tray icon's opacity tells the state: fully opaque only while connected.
constexpr qreal statusOpacity(bool connected) {
    return connected ? 1.0 : 0.5;
}
