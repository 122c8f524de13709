#include "SingleInstance.h"

#include "ActivationServer.h"
#include "PrivateFolder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
const QByteArray activationLine = "show";

// The session's runtime folder, if it is private to us.
QString runtimeFolder() {
#ifdef Q_OS_MACOS
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#else
    const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
#endif
    if (!QDir::isAbsolutePath(folder))
        return QString();
    QString why;
    if (isPrivateFolder(folder, why))
        return folder;
    qWarning("Zentrel VPN does not use the runtime folder: %s", qUtf8Printable(why));
    return QString();
}

// Whether nothing but our own regular file, or nothing at all, is at `path`.
bool freeForOurFile(const QString &path) {
    struct stat status {};
    if (lstat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT;
    return S_ISREG(status.st_mode) && status.st_uid == geteuid();
}
} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent), m_name(name), m_folder(runtimeFolder()) {
    if (m_folder.isEmpty()) {
        const QString cache =
            QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        m_folder = cache + QStringLiteral("/zentrel-vpn");
        if (!makePrivateFolder(m_folder, m_error)) {
            m_error += QLatin1Char(' ') +
                       tr("Zentrel VPN keeps its lock file there, so it must be a folder of yours "
                          "that only you can change. Remove it, and Zentrel VPN makes it anew.");
            m_folder.clear();
        }
    }
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Start SingleInstance::becomePrimary() {
    if (m_folder.isEmpty())
        return Start::Impossible;

    const QString lockPath = QDir(m_folder).filePath(m_name + QStringLiteral(".lock"));
    if (!freeForOurFile(lockPath)) {
        m_error = tr("%1 is in the way of its lock file: it is not a file of yours. Remove it, "
                     "then start Zentrel VPN again.")
                      .arg(lockPath);
        return Start::Impossible;
    }
    m_lock = std::make_unique<QLockFile>(lockPath);
    // A lock left by a crashed instance names a dead process and is taken over; a live one
    // never goes stale.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError)
            return Start::AlreadyRunning;
        m_error = tr("Its lock file %1 cannot be made.").arg(lockPath);
        return Start::Impossible;
    }

    m_server = std::make_unique<ActivationServer>(socketPath());
    QObject::connect(m_server.get(), &ActivationServer::lineReceived, this,
                     [this](const QByteArray &line) {
                         if (line == activationLine)
                             emit activationRequested();
                     });
    // Without the socket we are still the one instance; later starts just cannot reach us.
    QString why;
    if (!m_server->listen(why))
        qWarning("Zentrel VPN cannot listen for later starts: %s", qUtf8Printable(why));
    return Start::Primary;
}

namespace {
// Sends one line to the local socket at `path`; false when nobody listens or takes it in time.
bool sendLine(const QString &path, const QByteArray &line) {
    sockaddr_un address{};
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() >= qsizetype(sizeof address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const timeval timeout{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    bool sent = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    for (qsizetype done = 0; sent && done < line.size();) {
        const ssize_t count =
            send(fd, line.constData() + done, size_t(line.size() - done), MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        sent = count > 0;
        done += sent ? count : 0;
    }
    close(fd);
    return sent;
}
} // namespace

bool SingleInstance::activatePrimary() {
    // The running instance may still be starting up: give it a moment to listen.
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired()) {
        if (sendLine(socketPath(), activationLine + '\n'))
            return true;
        QThread::msleep(50);
    }
    return false;
}

QString SingleInstance::socketPath() const {
    return QDir(m_folder).filePath(m_name + QStringLiteral(".socket"));
}
