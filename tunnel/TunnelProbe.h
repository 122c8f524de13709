#pragma once

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>

// Checks the tunnel end to end without touching its command line: through our own SOCKS port
// it asks for a connection to 127.0.0.1 on the far side, which only the server can answer.
// Any answer, even a refusal or a closed connection, shows the tunnel alive; silence until the
// deadline shows it dead.
class TunnelProbe : public QObject {
    Q_OBJECT

public:
    explicit TunnelProbe(QObject *parent = nullptr);

    void start(quint16 socksPort, std::chrono::milliseconds deadline);
    void cancel();
    bool isRunning() const { return m_deadline.isActive(); }

signals:
    void finished(bool alive);

private:
    void onConnected();
    void onReadyRead();
    void finish(bool alive);

    QTcpSocket m_socket;
    QTimer m_deadline;
    bool m_greeted = false;
};

// Tells when ssh has opened its SOCKS port: tries to connect to it now and then until it
// accepts.
class PortWatch : public QObject {
    Q_OBJECT

public:
    explicit PortWatch(QObject *parent = nullptr);

    void start(quint16 port);
    void cancel();

signals:
    void listening();

private:
    void tryOnce();

    QTcpSocket m_socket;
    QTimer m_retry;
    quint16 m_port = 0;
};
