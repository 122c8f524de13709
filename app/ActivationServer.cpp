#include "ActivationServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Longer than any line a later start sends.
constexpr qsizetype lineLimit = 64;
// How long to wait before trying again when out of descriptors, or when listening failed.
constexpr std::chrono::milliseconds retryPause{500};

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

void setCloseOnExecAndNonBlocking(int descriptor) {
    fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
}
} // namespace

struct ActivationServer::Client {
    Client(int descriptor, ActivationServer &server)
        : descriptor(descriptor), deadline(clientTimeout),
          notifier(new QSocketNotifier(descriptor, QSocketNotifier::Read, &server)) {
        QObject::connect(notifier, &QSocketNotifier::activated, &server,
                         [this, &server] { server.read(*this); });
    }
    ~Client() {
        // The notifier may be the one whose signal is being handled: it goes later.
        notifier->setEnabled(false);
        notifier->deleteLater();
        ::close(descriptor);
    }

    int descriptor;
    QDeadlineTimer deadline;
    QSocketNotifier *notifier;
    QByteArray received;
};

ActivationServer::ActivationServer(QString path, QObject *parent)
    : QObject(parent), m_path(std::move(path)) {
    m_expiry.setSingleShot(true);
    QObject::connect(&m_expiry, &QTimer::timeout, this, &ActivationServer::closeExpired);
    m_retry.setSingleShot(true);
    QObject::connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_socket >= 0) {
            m_notifier->setEnabled(true);
            return;
        }
        QString error;
        if (!listen(error))
            m_retry.start(retryPause);
    });
}

ActivationServer::~ActivationServer() {
    m_clients.clear();
    if (m_socket >= 0) {
        stopListening();
        QFile::remove(m_path);
    }
}

bool ActivationServer::listen(QString &error) {
    stopListening();
    const QByteArray path = QFile::encodeName(m_path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path)) {
        error = tr("The path %1 is too long for a socket.").arg(m_path);
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    // What an ended instance left is replaced (the folder is ours alone).
    if (unlink(path.constData()) != 0 && errno != ENOENT) {
        error = tr("%1 is in the way: %2.").arg(m_path, systemError(errno));
        return false;
    }
    m_socket = socket(AF_UNIX, SOCK_STREAM, 0);
    if (m_socket < 0) {
        error = systemError(errno);
        return false;
    }
    setCloseOnExecAndNonBlocking(m_socket);
    if (bind(m_socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        chmod(path.constData(), 0600) != 0 || ::listen(m_socket, clientLimit) != 0) {
        error = tr("%1 cannot be made: %2.").arg(m_path, systemError(errno));
        stopListening();
        return false;
    }
    m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    QObject::connect(m_notifier, &QSocketNotifier::activated, this,
                     &ActivationServer::acceptClients);
    return true;
}

void ActivationServer::acceptClients() {
    while (m_socket >= 0) {
        const int descriptor = accept(m_socket, nullptr, nullptr);
        if (descriptor >= 0) {
            setCloseOnExecAndNonBlocking(descriptor);
            if (m_clients.size() >= size_t(clientLimit))
                m_clients.pop_front();
            m_clients.push_back(std::make_unique<Client>(descriptor, *this));
            if (!m_expiry.isActive())
                m_expiry.start(int(m_clients.front()->deadline.remainingTime()));
            continue;
        }
        switch (errno) {
        case EINTR:
        case ECONNABORTED:
            continue;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            // Out of descriptors: the oldest client makes room, or with none, wait a little.
            if (!m_clients.empty()) {
                m_clients.pop_front();
                continue;
            }
            m_notifier->setEnabled(false);
            m_retry.start(retryPause);
            return;
        default:
            // The socket itself failed: make a new one.
            qWarning("Zentrel VPN stopped listening for later starts (%s); listening anew.",
                     std::strerror(errno));
            stopListening();
            m_retry.start(retryPause);
            return;
        }
    }
}

void ActivationServer::read(Client &client) {
    char buffer[lineLimit];
    const ssize_t count = ::read(client.descriptor, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (count > 0) {
        client.received.append(buffer, count);
        const qsizetype end = client.received.indexOf('\n');
        if (end < 0 && client.received.size() < lineLimit)
            return; // the rest of the line is on its way
        const QByteArray line = client.received.left(end);
        close(client);
        if (end >= 0)
            emit lineReceived(line);
        return;
    }
    close(client); // it hung up, or failed
}

void ActivationServer::close(const Client &client) {
    m_clients.remove_if([&client](const std::unique_ptr<Client> &c) { return c.get() == &client; });
}

void ActivationServer::closeExpired() {
    while (!m_clients.empty() && m_clients.front()->deadline.hasExpired())
        m_clients.pop_front();
    if (!m_clients.empty())
        m_expiry.start(int(m_clients.front()->deadline.remainingTime()));
}

void ActivationServer::stopListening() {
    if (m_notifier) {
        // Possibly the notifier whose signal is being handled: it goes later.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}
