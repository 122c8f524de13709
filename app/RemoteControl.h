#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class AppDelegate;

// What `zentrel-vpn --status` tells, as the running instance sees it.
struct TunnelStatus {
    enum class State { NotConfigured, NotConnected, Connecting, Connected, Reconnecting };
    State state = State::NotConnected;
    QString username;
    QString server;
    qint64 port = 0;
    QDateTime since; // while connected
};

// The status as one JSON object: state, and while connected user, server, port, since and the
// SOCKS URL that programs reading ALL_PROXY take.
QJsonObject statusJson(const TunnelStatus &status);
// The line a person reads, from such an object ("Connected to alice@example.org (port 6969)
// since 10:32"); an object without a state means that no instance runs.
QString statusLine(const QJsonObject &status);

// The running instance's side of the command line: connect, disconnect and status, asked
// through the single-instance socket. Connect and disconnect go through the same queue of
// jobs as the menu's, so a click and a command never interleave; the answer comes once the
// tunnel is up, or has failed, or is down.
class RemoteControl : public QObject {
    Q_OBJECT

public:
    explicit RemoteControl(AppDelegate &delegate, QObject *parent = nullptr);

    // `line` is "connect", "disconnect" or "status"; the answer goes out through answered().
    void handle(const QByteArray &line, quint64 id);
    // The asker of `id` is gone.
    void forget(quint64 id);

    TunnelStatus status() const;

signals:
    void answered(quint64 id, const QByteArray &answer);

private:
    void settle();
    void failConnects(const QString &message);
    void reply(quint64 id, const QJsonObject &answer);

    AppDelegate &m_delegate;
    QList<quint64> m_connects;
    QList<quint64> m_disconnects;
};
