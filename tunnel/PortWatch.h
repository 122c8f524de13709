#pragma once

#include "SocketTable.h"

#include <QObject>
#include <QTimer>

#include <optional>
#include <sys/types.h>

class QSocketNotifier;

// One attempt to connect to 127.0.0.1 on a port of ours, without blocking and without QtNetwork
// (a plain socket watched by the event loop). The outcome arrives as a signal from the event
// loop, never from inside open().
class LoopbackConnection : public QObject {
    Q_OBJECT

public:
    explicit LoopbackConnection(QObject *parent = nullptr);
    ~LoopbackConnection() override;

    void open(quint16 port);
    // Drops the connection (or the attempt) without a signal.
    void close();

signals:
    void connected();
    void ended();

private:
    void onWritable();
    void fail();

    int m_fd = -1;
    quint64 m_attempt = 0; // counts close()s, so late news of an old attempt is recognised
    QSocketNotifier *m_writeNotifier;
};

// Tells who holds the tunnel's port: looks now and then until our ssh listens on it, or until
// another program is found there. Where the kernel cannot say whose a listener is, a port that
// accepts a connection counts as ours.
class PortWatch : public QObject {
    Q_OBJECT

public:
    explicit PortWatch(QObject *parent = nullptr);

    void start(quint16 port, pid_t ssh);
    void cancel();

    // One look: nullopt where the kernel cannot tell.
    static std::optional<PortHolder> look(quint16 port, pid_t ssh);

signals:
    void ours();
    void taken();

private:
    void tryOnce();

    LoopbackConnection m_socket;
    QTimer m_retry;
    quint16 m_port = 0;
    pid_t m_ssh = 0;
    int m_otherSeen = 0;
};
