#include "TunnelProbe.h"

#include <QHostAddress>

namespace {
// SOCKS 5: no authentication; then CONNECT to 127.0.0.1, port 1 (a refusal is answer enough).
const QByteArray greeting("\x05\x01\x00", 3);
const QByteArray connectToFarLoopback("\x05\x01\x00\x01\x7f\x00\x00\x01\x00\x01", 10);

constexpr int portRetryMs = 200;
} // namespace

TunnelProbe::TunnelProbe(QObject *parent) : QObject(parent) {
    m_deadline.setSingleShot(true);
    QObject::connect(&m_deadline, &QTimer::timeout, this, [this] { finish(false); });
    QObject::connect(&m_socket, &QTcpSocket::connected, this, &TunnelProbe::onConnected);
    QObject::connect(&m_socket, &QTcpSocket::readyRead, this, &TunnelProbe::onReadyRead);
    QObject::connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        // Closed after our request: the far side said no, so it is there.
        if (m_greeted && m_deadline.isActive())
            finish(true);
    });
    QObject::connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (!m_deadline.isActive())
            return;
        if (m_greeted && m_socket.error() == QAbstractSocket::RemoteHostClosedError)
            finish(true);
        else if (!m_greeted)
            finish(false); // our own port does not even answer
    });
}

void TunnelProbe::start(quint16 socksPort, std::chrono::milliseconds deadline) {
    cancel();
    m_greeted = false;
    m_deadline.start(deadline);
    m_socket.connectToHost(QHostAddress::LocalHost, socksPort);
}

void TunnelProbe::cancel() {
    m_deadline.stop();
    m_socket.abort();
}

void TunnelProbe::onConnected() {
    m_socket.write(greeting);
}

void TunnelProbe::onReadyRead() {
    if (!m_greeted) {
        // ssh answers the greeting itself; only what follows comes from the far side.
        if (m_socket.bytesAvailable() < 2)
            return;
        m_socket.read(2);
        m_greeted = true;
        m_socket.write(connectToFarLoopback);
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
    QObject::connect(&m_socket, &QTcpSocket::connected, this, [this] {
        cancel();
        emit listening();
    });
    QObject::connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
        m_socket.abort();
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
    m_socket.abort();
}

void PortWatch::tryOnce() {
    m_socket.abort();
    m_socket.connectToHost(QHostAddress::LocalHost, m_port);
}
