#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {
const QByteArray activationMessage = "show\n";

QString runtimePath(const QString &fileName) {
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    return QDir(directory).filePath(fileName);
}
} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent), m_socketName(runtimePath(name + QStringLiteral(".socket"))),
      m_lock(runtimePath(name + QStringLiteral(".lock"))) {
    // A lock left by a crashed instance names a dead process and is taken over; a live one
    // never goes stale.
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::becomePrimary() {
    if (!m_lock.tryLock(0))
        return false;
    // Holding the lock, any socket left behind is from an instance that is gone.
    QLocalServer::removeServer(m_socketName);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *client = m_server->nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().contains(activationMessage))
                    emit activationRequested();
            });
        }
    });
    // Without the socket we are still the one instance; later starts just cannot reach us.
    m_server->listen(m_socketName);
    return true;
}

bool SingleInstance::activatePrimary() {
    // The running instance may still be starting up: give it a moment to listen.
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_socketName);
        if (socket.waitForConnected(500)) {
            socket.write(activationMessage);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(50);
    }
    return false;
}
