#include "TunnelProbe.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// SOCKS 5: no authentication; then CONNECT to 127.0.0.1, port 1 (a refusal is answer enough).
const QByteArray greeting("\x05\x01\x00", 3);
const QByteArray connectToFarLoopback("\x05\x01\x00\x01\x7f\x00\x00\x01\x00\x01", 10);

constexpr int portRetryMs = 200;

} // namespace

LoopbackConnection::LoopbackConnection(QObject *parent)
    : QObject(parent), m_readNotifier(new QSocketNotifier(QSocketNotifier::Read, this)),
      m_writeNotifier(new QSocketNotifier(QSocketNotifier::Write, this)) {
    // The same two notifiers serve every connection, handed each new socket in turn.
    QObject::connect(m_readNotifier, &QSocketNotifier::activated, this,
                     &LoopbackConnection::onReadable);
    QObject::connect(m_writeNotifier, &QSocketNotifier::activated, this,
                     &LoopbackConnection::onWritable);
}

LoopbackConnection::~LoopbackConnection() {
    close();
}

void LoopbackConnection::open(quint16 port) {
    close();
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        fail();
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        fail();
        return;
    }
    // Writable once the connection is made or has failed; SO_ERROR tells which.
    m_writeNotifier->setSocket(m_fd);
    m_writeNotifier->setEnabled(true);
}

void LoopbackConnection::close() {
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    ++m_attempt; // whatever is still on its way about the old one is void
    m_received.clear();
}

void LoopbackConnection::write(const QByteArray &bytes) {
    if (m_fd < 0)
        return;
    const ssize_t sent = send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
    if (sent != bytes.size())
        fail();
}

void LoopbackConnection::onWritable() {
    m_writeNotifier->setEnabled(false);
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        fail();
        return;
    }
    m_readNotifier->setSocket(m_fd);
    m_readNotifier->setEnabled(true);
    emit connected();
}

void LoopbackConnection::onReadable() {
    const quint64 attempt = m_attempt;
    bool closedByPeer = false, broken = false, arrived = false;
    char buffer[512];
    for (;;) {
        const ssize_t count = recv(m_fd, buffer, sizeof buffer, 0);
        if (count > 0) {
            m_received.append(buffer, count);
            arrived = true;
        } else if (count == 0) {
            closedByPeer = true;
            break;
        } else if (errno == EINTR) {
            continue;
        } else {
            broken = errno != EAGAIN && errno != EWOULDBLOCK;
            break;
        }
    }
    if (arrived) {
        emit readyRead();
        if (m_attempt != attempt)
            return; // closed or reopened by whoever read it
    }
    if (closedByPeer || broken) {
        close();
        emit ended(closedByPeer);
    }
}

void LoopbackConnection::fail() {
    const quint64 attempt = m_attempt;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    // Told from the event loop, as every other outcome, unless the connection has moved on.
    QMetaObject::invokeMethod(
        this,
        [this, attempt] {
            if (m_attempt != attempt)
                return;
            close();
            emit ended(false);
        },
        Qt::QueuedConnection);
}

TunnelProbe::TunnelProbe(QObject *parent) : QObject(parent) {
    m_deadline.setSingleShot(true);
    QObject::connect(&m_deadline, &QTimer::timeout, this, [this] { finish(false); });
    QObject::connect(&m_socket, &LoopbackConnection::connected, this,
                     [this] { m_socket.write(greeting); });
    QObject::connect(&m_socket, &LoopbackConnection::readyRead, this, &TunnelProbe::onReadyRead);
    QObject::connect(&m_socket, &LoopbackConnection::ended, this, [this](bool closedByPeer) {
        if (!m_deadline.isActive())
            return;
        if (m_greeted && closedByPeer)
            finish(true); // closed after our request: the far side said no, so it is there
        else if (!m_greeted)
            finish(false); // our own port does not even answer
    });
}

void TunnelProbe::start(quint16 socksPort, std::chrono::milliseconds deadline) {
    cancel();
    m_greeted = false;
    m_deadline.start(deadline);
    m_socket.open(socksPort);
}

void TunnelProbe::cancel() {
    m_deadline.stop();
    m_socket.close();
}

void TunnelProbe::onReadyRead() {
    QByteArray &received = m_socket.received();
    if (!m_greeted) {
        // ssh answers the greeting itself; only what follows comes from the far side.
        if (received.size() < 2)
            return;
        received.remove(0, 2);
        m_greeted = true;
        m_socket.write(connectToFarLoopback);
        if (received.isEmpty())
            return;
    }
    finish(true);
}

void TunnelProbe::finish(bool alive) {
    cancel();
    emit finished(alive);
}

PortWatch::PortWatch(QObject *parent) : QObject(parent) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(portRetryMs);
    QObject::connect(&m_retry, &QTimer::timeout, this, &PortWatch::tryOnce);
    QObject::connect(&m_socket, &LoopbackConnection::connected, this, [this] {
        cancel();
        emit listening();
    });
    QObject::connect(&m_socket, &LoopbackConnection::ended, this, [this] {
        if (m_port != 0)
            m_retry.start();
    });
}

void PortWatch::start(quint16 port) {
    m_port = port;
    tryOnce();
}

void PortWatch::cancel() {
    m_port = 0;
    m_retry.stop();
    m_socket.close();
}

void PortWatch::tryOnce() {
    m_socket.open(m_port);
}
