#include "SingleInstance.h"

#include "ActivationServer.h"
#include "PrivateFolder.h"
#include "SystemError.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray activationLine = "show";

// Byte-range locks on the lock file, which the kernel drops when the process ends, so that no
// lock outlives its instance. Where there are locks of the open file (Linux), two holders in
// one process exclude each other too, and closing one descriptor never drops another's.
#ifdef F_OFD_SETLK
constexpr int setLock = F_OFD_SETLK;
constexpr int getLock = F_OFD_GETLK;
#else
constexpr int setLock = F_SETLK;
constexpr int getLock = F_GETLK;
#endif
// The first byte is held by the primary for its whole life, the second by a login check while
// it works.
constexpr off_t primaryByte = 0;
constexpr off_t checkByte = 1;
// How long a start waits for a login check, or a login check for another: long enough for the
// check's proxy command, short enough that a stuck check cannot keep the application away.
constexpr int checkWaitMs = 30000;

struct flock byteLock(short type, off_t byte) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return lock;
}

// False with errno EAGAIN or EACCES when someone else holds the byte.
bool tryLock(int descriptor, off_t byte) {
    struct flock lock = byteLock(F_WRLCK, byte);
    return fcntl(descriptor, setLock, &lock) == 0;
}

bool lockWithin(int descriptor, off_t byte, int milliseconds) {
    const QDeadlineTimer deadline(milliseconds);
    while (!tryLock(descriptor, byte)) {
        if ((errno != EAGAIN && errno != EACCES && errno != EINTR) || deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

// Whether someone else holds the byte, asked without taking it; false when it cannot be asked.
bool heldByAnother(int descriptor, off_t byte, bool &held) {
    struct flock probe = byteLock(F_WRLCK, byte);
    if (fcntl(descriptor, getLock, &probe) != 0)
        return false;
    held = probe.l_type != F_UNLCK;
    return true;
}

void unlock(int descriptor, off_t byte) {
    struct flock lock = byteLock(F_UNLCK, byte);
    fcntl(descriptor, setLock, &lock);
}

} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent), m_name(name), m_folder(defaultFolder()) {
    if (m_folder.isEmpty()) {
        m_error = tr("Your user has no home folder in the password database, and Zentrel VPN "
                     "keeps its lock file there.");
    } else if (!makePrivateFolder(m_folder, m_error)) {
        m_error += QLatin1Char(' ') +
                   tr("Zentrel VPN keeps its lock file there, so it must be a folder of yours "
                      "that only you can change. Remove it, and Zentrel VPN makes it anew.");
        m_folder.clear();
    }
}

SingleInstance::~SingleInstance() {
    // The socket goes while the lock is still held, never that of an instance started since.
    m_server.reset();
    if (m_lock >= 0)
        close(m_lock);
}

QString SingleInstance::defaultFolder() {
    // Not $HOME nor XDG_*: a start from cron, `env -i` or a launcher that sets them otherwise
    // must still find the instance that runs. Not /run/user/UID either: it comes and goes with
    // the user's sessions, which an instance may outlive.
    const passwd *entry = getpwuid(getuid());
    if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/')
        return QString();
    return QDir::cleanPath(QFile::decodeName(entry->pw_dir) +
                           QStringLiteral("/.local/state/zentrel-vpn"));
}

bool SingleInstance::openLock() {
    if (m_lock >= 0)
        return true;
    if (m_folder.isEmpty())
        return false;
    const QString path = QDir(m_folder).filePath(m_name + QStringLiteral(".lock"));
    const QByteArray encoded = QFile::encodeName(path);
    m_lock =
        open(encoded.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    const int openError = errno;
    struct stat status {};
    if (m_lock >= 0 && fstat(m_lock, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_uid == geteuid())
        return true;
    if (m_lock >= 0 || lstat(encoded.constData(), &status) == 0)
        m_error = tr("%1 is in the way of its lock file: it is not a file of yours. Remove it, "
                     "then start Zentrel VPN again.")
                      .arg(path);
    else
        m_error = tr("Its lock file %1 cannot be made: %2.").arg(path, systemError(openError));
    if (m_lock >= 0)
        close(m_lock);
    m_lock = -1;
    return false;
}

SingleInstance::Start SingleInstance::becomePrimary() {
    if (!openLock())
        return Start::Impossible;
    if (!tryLock(m_lock, primaryByte)) {
        if (errno == EAGAIN || errno == EACCES)
            return Start::AlreadyRunning;
        m_error = tr("Its lock file in %1 cannot be locked: %2.").arg(m_folder, systemError(errno));
        return Start::Impossible;
    }

    m_server = std::make_unique<ActivationServer>(socketPath());
    QObject::connect(m_server.get(), &ActivationServer::lineReceived, this,
                     [this](const QByteArray &line, quint64 id) {
                         if (line == activationLine) {
                             m_server->answer(id, {});
                             emit activationRequested();
                         } else {
                             emit requestReceived(line, id);
                         }
                     });
    QObject::connect(m_server.get(), &ActivationServer::requestDropped, this,
                     &SingleInstance::requestDropped);
    // Without the socket we are still the one instance; later starts just cannot reach us.
    QString why;
    if (!m_server->listen(why))
        qWarning("Zentrel VPN cannot listen for later starts: %s", qUtf8Printable(why));

    // A login check that looked before we took the lock may still be putting back what an
    // earlier run left: take nothing over until it is done.
    if (lockWithin(m_lock, checkByte, checkWaitMs))
        unlock(m_lock, checkByte);
    return Start::Primary;
}

SingleInstance::Hold SingleInstance::holdOffPrimary() {
    if (!openLock())
        return Hold::Impossible;
    // The check's byte first, then a look at the primary's: a primary that takes its byte
    // after the look waits for ours.
    if (!lockWithin(m_lock, checkByte, checkWaitMs)) {
        m_error = tr("Its lock file in %1 cannot be locked: %2.").arg(m_folder, systemError(errno));
        return Hold::Impossible;
    }
    bool held = false;
    if (!heldByAnother(m_lock, primaryByte, held)) {
        m_error = tr("Its lock file in %1 cannot be read: %2.").arg(m_folder, systemError(errno));
        return Hold::Impossible;
    }
    if (!held)
        return Hold::Held;
    unlock(m_lock, checkByte);
    return Hold::PrimaryRunning;
}

bool SingleInstance::primaryRunning() {
    bool held = false;
    return openLock() && heldByAnother(m_lock, primaryByte, held) && held;
}

bool SingleInstance::activatePrimary() {
    // The running instance may still be starting up: give it a moment to listen.
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired()) {
        // A later start only needs its line to arrive; it waits for no answer.
        if (ActivationServer::request(socketPath(), activationLine, std::chrono::seconds(1),
                                      ActivationServer::Answer::NotAwaited))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void SingleInstance::answer(quint64 id, const QByteArray &text) {
    if (m_server)
        m_server->answer(id, text);
}

std::optional<QByteArray> SingleInstance::askPrimary(const QByteArray &line,
                                                     std::chrono::milliseconds timeout) const {
    return ActivationServer::request(socketPath(), line, timeout);
}

QString SingleInstance::socketPath() const {
    return QDir(m_folder).filePath(m_name + QStringLiteral(".socket"));
}
