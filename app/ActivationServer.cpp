#include "ActivationServer.h"

#include "SystemError.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Longer than any line a later start sends.
constexpr qsizetype lineLimit = 64;
// How long to wait before trying again when out of descriptors, or when listening failed.
constexpr std::chrono::milliseconds retryPause{500};

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
    quint64 id = 0; // once its line has come: the request it waits on
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
            if (!fromThisUser(descriptor)) {
                ::close(descriptor);
                continue;
            }
            if (m_clients.size() >= size_t(clientLimit))
                drop(*m_clients.front());
            m_clients.push_back(std::make_unique<Client>(descriptor, *this));
            scheduleExpiry();
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
    if (count > 0 && client.id == 0) {
        client.received.append(buffer, count);
        const qsizetype end = client.received.indexOf('\n');
        if (end < 0 && client.received.size() < lineLimit)
            return; // the rest of the line is on its way
        if (end < 0) {
            close(client);
            return;
        }
        client.id = ++m_lastId;
        client.deadline.setRemainingTime(answerTimeout);
        scheduleExpiry();
        emit lineReceived(client.received.left(end), client.id);
        return;
    }
    if (count > 0)
        return;   // nothing more is asked of a client that waits
    drop(client); // it hung up, or failed
}

void ActivationServer::answer(quint64 id, const QByteArray &text) {
    for (const std::unique_ptr<Client> &client : m_clients) {
        if (client->id != id)
            continue;
        const QByteArray line = text + '\n';
        // A few hundred bytes: they fit the socket's buffer, or the client is not worth waiting
        // for.
        send(client->descriptor, line.constData(), size_t(line.size()), MSG_NOSIGNAL);
        close(*client);
        return;
    }
}

void ActivationServer::drop(const Client &client) {
    const quint64 id = client.id;
    close(client);
    if (id != 0)
        emit requestDropped(id);
}

void ActivationServer::close(const Client &client) {
    m_clients.remove_if([&client](const std::unique_ptr<Client> &c) { return c.get() == &client; });
}

void ActivationServer::closeExpired() {
    std::list<const Client *> expired;
    for (const std::unique_ptr<Client> &client : m_clients)
        if (client->deadline.hasExpired())
            expired.push_back(client.get());
    for (const Client *client : expired)
        drop(*client);
    scheduleExpiry();
}

void ActivationServer::scheduleExpiry() {
    qint64 soonest = -1;
    for (const std::unique_ptr<Client> &client : m_clients) {
        const qint64 remaining = client->deadline.remainingTime();
        if (soonest < 0 || remaining < soonest)
            soonest = remaining;
    }
    if (soonest >= 0)
        m_expiry.start(int(soonest));
    else
        m_expiry.stop();
}

bool ActivationServer::fromThisUser(int descriptor) {
#ifdef Q_OS_LINUX
    ucred peer{};
    socklen_t length = sizeof peer;
    return getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           peer.uid == geteuid();
#else
    uid_t uid = 0;
    gid_t gid = 0;
    return getpeereid(descriptor, &uid, &gid) == 0 && uid == geteuid();
#endif
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

std::optional<QByteArray> ActivationServer::request(const QString &path, const QByteArray &line,
                                                    std::chrono::milliseconds timeout,
                                                    Answer answered) {
    const QDeadlineTimer deadline(timeout);
    const SocketAddress address(path);
    if (!address.isValid())
        return std::nullopt;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    // A listener whose queue is full makes connect() wait: never longer than asked.
    const timeval sendTimeout{time_t(timeout.count() / 1000),
                              suseconds_t(timeout.count() % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    const QByteArray sent = line + '\n';
    QByteArray answer;
    bool complete = false;
    if (::connect(fd, address.get(), SocketAddress::size) == 0 &&
        send(fd, sent.constData(), size_t(sent.size()), MSG_NOSIGNAL) == sent.size()) {
        complete = answered == Answer::NotAwaited;
        char buffer[4096];
        while (!complete) {
            pollfd wait{fd, POLLIN, 0};
            const int ready = poll(&wait, 1, int(qMax<qint64>(0, deadline.remainingTime())));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            answer.append(buffer, count);
            if (answer.size() > 65536)
                break;
            complete = answer.endsWith('\n');
        }
    }
    ::close(fd);
    if (!complete)
        return std::nullopt;
    answer.chop(answer.endsWith('\n') ? 1 : 0);
    return answer;
}
