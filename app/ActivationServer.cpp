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

// The address of the socket at a path. A path too long for an address (108 bytes on Linux, less
// than some homes need) is named through a descriptor of its folder, kept open while the
// address is in use.
class SocketAddress {
public:
    explicit SocketAddress(const QString &path) {
        QByteArray encoded = QFile::encodeName(path);
#ifdef Q_OS_LINUX
        const qsizetype slash = encoded.lastIndexOf('/');
        if (encoded.size() >= qsizetype(sizeof m_address.sun_path) && slash > 0) {
            m_folder = open(encoded.left(slash).constData(),
                            O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (m_folder >= 0)
                encoded = "/proc/self/fd/" + QByteArray::number(m_folder) + encoded.mid(slash);
        }
#endif
        m_valid = encoded.size() < qsizetype(sizeof m_address.sun_path);
        if (m_valid) {
            m_address.sun_family = AF_UNIX;
            std::memcpy(m_address.sun_path, encoded.constData(), size_t(encoded.size()));
        }
    }
    ~SocketAddress() {
        if (m_folder >= 0)
            ::close(m_folder);
    }
    SocketAddress(const SocketAddress &) = delete;
    SocketAddress &operator=(const SocketAddress &) = delete;

    bool isValid() const {
        return m_valid;
    }
    const sockaddr *get() const {
        return reinterpret_cast<const sockaddr *>(&m_address);
    }
    static constexpr socklen_t size = sizeof(sockaddr_un);

private:
    sockaddr_un m_address{};
    int m_folder = -1;
    bool m_valid = false;
};
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
    const SocketAddress address(m_path);
    if (!address.isValid()) {
        error = tr("The path %1 is too long for a socket.").arg(m_path);
        return false;
    }
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
    if (bind(m_socket, address.get(), SocketAddress::size) != 0 ||
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

bool ActivationServer::sendLine(const QString &path, const QByteArray &line) {
    const SocketAddress address(path);
    if (!address.isValid())
        return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const timeval timeout{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    bool sent = ::connect(fd, address.get(), SocketAddress::size) == 0;
    for (qsizetype done = 0; sent && done < line.size();) {
        const ssize_t count =
            send(fd, line.constData() + done, size_t(line.size() - done), MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        sent = count > 0;
        done += sent ? count : 0;
    }
    ::close(fd);
    return sent;
}
