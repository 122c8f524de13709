#include "PortWatch.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// ssh listens a moment after it has logged in; a look costs one question to the kernel.
constexpr int portRetryMs = 100;
} // namespace

LoopbackConnection::LoopbackConnection(QObject *parent)
    : QObject(parent), m_writeNotifier(new QSocketNotifier(QSocketNotifier::Write, this)) {
    // The same notifier serves every attempt, handed each new socket in turn.
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
    m_writeNotifier->setEnabled(false);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    ++m_attempt; // whatever is still on its way about the old one is void
}

void LoopbackConnection::onWritable() {
    m_writeNotifier->setEnabled(false);
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        fail();
        return;
    }
    close();
    emit connected();
}

void LoopbackConnection::fail() {
    const quint64 attempt = m_attempt;
    m_writeNotifier->setEnabled(false);
    // Told from the event loop, as every other outcome, unless the connection has moved on.
    QMetaObject::invokeMethod(
        this,
        [this, attempt] {
            if (m_attempt != attempt)
                return;
            close();
            emit ended();
        },
        Qt::QueuedConnection);
}

PortWatch::PortWatch(QObject *parent) : QObject(parent) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(portRetryMs);
    QObject::connect(&m_retry, &QTimer::timeout, this, &PortWatch::tryOnce);
    QObject::connect(&m_socket, &LoopbackConnection::connected, this, [this] {
        cancel();
        emit ours();
    });
    QObject::connect(&m_socket, &LoopbackConnection::ended, this, [this] {
        if (m_port != 0)
            m_retry.start();
    });
}

std::optional<PortHolder> PortWatch::look(quint16 port, pid_t ssh) {
    const std::optional<QList<TcpSocket>> sockets = readTcpSockets();
    if (!sockets)
        return std::nullopt;
    return portHolder(*sockets, port, socketInodesOf(ssh));
}

void PortWatch::start(quint16 port, pid_t ssh) {
    m_otherSeen = 0;
    m_port = port;
    m_ssh = ssh;
    tryOnce();
}

void PortWatch::cancel() {
    m_port = 0;
    m_retry.stop();
    m_socket.close();
}

void PortWatch::tryOnce() {
    const std::optional<PortHolder> holder = look(m_port, m_ssh);
    if (!holder) {
        m_socket.open(m_port);
        return;
    }
    switch (*holder) {
    case PortHolder::Nobody:
        m_otherSeen = 0;
        m_retry.start();
        break;
    case PortHolder::Us:
        cancel();
        emit ours();
        break;
    case PortHolder::Other:
        // Twice in a row: a socket of a process that is just ending may still be listed.
        if (++m_otherSeen < 2) {
            m_retry.start();
            break;
        }
        cancel();
        emit taken();
        break;
    }
}
