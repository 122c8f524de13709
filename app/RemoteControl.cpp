#include "RemoteControl.h"

#include "AppDelegate.h"
#include "CommandLines.h"
#include "ConnectionController.h"
#include "SettingsKeys.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTimer>

namespace {
const char *stateName(TunnelStatus::State state) {
    switch (state) {
    case TunnelStatus::State::NotConfigured:
        return "not-configured";
    case TunnelStatus::State::NotConnected:
        return "disconnected";
    case TunnelStatus::State::Connecting:
        return "connecting";
    case TunnelStatus::State::Connected:
        return "connected";
    case TunnelStatus::State::Reconnecting:
        return "reconnecting";
    }
    return "disconnected";
}

QJsonObject failure(const QString &message) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
}

const QJsonObject success{{QStringLiteral("ok"), true}};
} // namespace

QJsonObject statusJson(const TunnelStatus &status) {
    QJsonObject object{{QStringLiteral("state"), QLatin1String(stateName(status.state))}};
    if (status.state == TunnelStatus::State::NotConfigured ||
        status.state == TunnelStatus::State::NotConnected)
        return object;
    object.insert(QStringLiteral("user"), status.username);
    object.insert(QStringLiteral("server"), status.server);
    object.insert(QStringLiteral("port"), status.port);
    object.insert(QStringLiteral("socks"),
                  QStringLiteral("socks5h://localhost:%1").arg(status.port));
    if (status.since.isValid())
        object.insert(
            QStringLiteral("since"),
            status.since.toOffsetFromUtc(status.since.offsetFromUtc()).toString(Qt::ISODate));
    return object;
}

QString statusLine(const QJsonObject &status) {
    const QString state = status.value(QLatin1String("state")).toString();
    if (state == QLatin1String("connected")) {
        const QDateTime since =
            QDateTime::fromString(status.value(QLatin1String("since")).toString(), Qt::ISODate);
        return QCoreApplication::translate("RemoteControl", "Connected to %1@%2 (port %3) since %4")
            .arg(status.value(QLatin1String("user")).toString(),
                 status.value(QLatin1String("server")).toString())
            .arg(status.value(QLatin1String("port")).toInteger())
            .arg(since.toLocalTime().toString(QStringLiteral("HH:mm")));
    }
    if (state == QLatin1String("connecting"))
        return QCoreApplication::translate("RemoteControl", "Connecting\u2026");
    if (state == QLatin1String("reconnecting"))
        return QCoreApplication::translate("RemoteControl", "Reconnecting\u2026");
    if (state == QLatin1String("not-configured"))
        return QCoreApplication::translate("RemoteControl", "Not configured");
    if (state == QLatin1String("disconnected"))
        return QCoreApplication::translate("RemoteControl", "Not connected");
    return QCoreApplication::translate("RemoteControl", "Zentrel VPN is not running");
}

RemoteControl::RemoteControl(AppDelegate &delegate, QObject *parent)
    : QObject(parent), m_delegate(delegate) {
    ConnectionController &connection = delegate.connection();
    QObject::connect(&connection, &ConnectionController::upChanged, this, &RemoteControl::settle);
    QObject::connect(&connection, &ConnectionController::tunnelFailed, this,
                     &RemoteControl::failConnects);
    QObject::connect(&connection, &ConnectionController::connectedChanged, this, [this] {
        // A failure is reported right after the tunnel is down: let it speak first.
        QTimer::singleShot(0, this, &RemoteControl::settle);
    });
}

TunnelStatus RemoteControl::status() const {
    using State = ConnectionController::State;
    const ConnectionController &connection = m_delegate.connection();
    TunnelStatus status;
    switch (connection.state()) {
    case State::NotConnected: {
        const std::optional<QString> server = m_delegate.settingsStore().text(SettingsKeys::server);
        status.state = server.value_or(QString()).isEmpty() ? TunnelStatus::State::NotConfigured
                                                            : TunnelStatus::State::NotConnected;
        return status;
    }
    case State::Connecting:
        status.state = TunnelStatus::State::Connecting;
        break;
    case State::Up:
        status.state = TunnelStatus::State::Connected;
        status.since = connection.supervisor().health().upSince;
        break;
    case State::Reconnecting:
        status.state = TunnelStatus::State::Reconnecting;
        break;
    }
    const TunnelSettings &tunnel = connection.tunnel();
    status.username = tunnel.username;
    status.server = tunnel.server;
    status.port = tunnel.port;
    return status;
}

void RemoteControl::handle(const QByteArray &line, quint64 id) {
    ConnectionController &connection = m_delegate.connection();
    if (line == "status") {
        reply(id, statusJson(status()));
    } else if (line == "connect") {
        if (status().state == TunnelStatus::State::NotConfigured) {
            reply(id, failure(tr("Zentrel VPN is not configured yet: enter your server in its "
                                 "preferences window.")));
            return;
        }
        m_connects.append(id);
        if (!connection.isConnected())
            m_delegate.connect();
        settle();
    } else if (line == "disconnect") {
        m_disconnects.append(id);
        if (connection.isConnected() || !connection.isIdle())
            m_delegate.disconnect();
        settle();
    } else {
        reply(id, failure(tr("Unknown request.")));
    }
}

void RemoteControl::forget(quint64 id) {
    m_connects.removeAll(id);
    m_disconnects.removeAll(id);
}

void RemoteControl::settle() {
    const ConnectionController &connection = m_delegate.connection();
    const bool down = !connection.isConnected() && connection.isIdle();
    if (connection.isUp()) {
        for (quint64 id : std::exchange(m_connects, {}))
            reply(id, success);
    } else if (down) {
        failConnects(tr("The connection was closed before the tunnel came up."));
    }
    if (down)
        for (quint64 id : std::exchange(m_disconnects, {}))
            reply(id, success);
}

void RemoteControl::failConnects(const QString &message) {
    if (m_connects.isEmpty())
        return;
    for (quint64 id : std::exchange(m_connects, {}))
        reply(id, failure(message));
    // The one who asked has been told; the alert stays up without holding later requests.
    m_delegate.connection().failureAcknowledged();
}

void RemoteControl::reply(quint64 id, const QJsonObject &answer) {
    emit answered(id, QJsonDocument(answer).toJson(QJsonDocument::Compact));
}
