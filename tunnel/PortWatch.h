#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <chrono>

class QSocketNotifier;

// One TCP connection to 127.0.0.1 on a port of ours, without blocking and without QtNetwork
// (a plain socket watched by the event loop). Every outcome arrives as a signal from the event
// loop, never from inside open().
class LoopbackConnection : public QObject {
    Q_OBJECT

public:
    explicit LoopbackConnection(QObject *parent = nullptr);
    ~LoopbackConnection() override;

    void open(quint16 port);
    // Drops the connection (or the attempt) without a signal.
    void close();
    // A few bytes, as a request: they fit the socket's buffer at once or the connection fails.
    void write(const QByteArray &bytes);
    // What has arrived and not been taken yet.
    QByteArray &received() { return m_received; }

signals:
    void connected();
    void readyRead();
    // The attempt failed, or the far side closed or broke the connection after it was made.
    void ended(bool wasConnected);

private:
    void onWritable();
    void onReadable();
    void fail();

    int m_fd = -1;
    quint64 m_attempt = 0; // counts close()s, so late news of an old attempt is recognised
    QSocketNotifier *m_readNotifier;
    QSocketNotifier *m_writeNotifier;
    QByteArray m_received;
};

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
    void onReadyRead();
    void finish(bool alive);

    LoopbackConnection m_socket;
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

    LoopbackConnection m_socket;
    QTimer m_retry;
    quint16 m_port = 0;
};
