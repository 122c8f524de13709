#include "TunnelRecord.h"

#include "CommandLines.h"
#include "PrivateFolder.h"
#include "SystemError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int formatVersion = 1;
constexpr qint64 sizeLimit = 64 * 1024; // a record is a few hundred bytes

void syncFolder(const QString &folder) {
    const int fd = open(QFile::encodeName(folder).constData(),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

QByteArray serializeTunnelRecord(const TunnelRecord &record) {
    QJsonObject object{
        {QStringLiteral("version"), formatVersion},
        {QStringLiteral("networkService"), record.networkService},
        {QStringLiteral("proxySwitchedOn"), record.proxySwitchedOn},
        {QStringLiteral("port"), record.port},
        {QStringLiteral("username"), record.username},
        {QStringLiteral("server"), record.server},
        {QStringLiteral("privateKey"), record.privateKey},
        {QStringLiteral("privateKeyFile"), record.privateKeyFile},
    };
    if (record.ssh) {
        object.insert(QStringLiteral("sshPid"), qint64(record.ssh->pid));
        // As text: a JSON number would lose precision above 2^53.
        object.insert(QStringLiteral("sshStartTime"), QString::number(record.ssh->startTime));
        object.insert(QStringLiteral("bootId"), QString::fromLatin1(record.ssh->bootId));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<TunnelRecord> parseTunnelRecord(const QByteArray &text) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto has = [&](const char *key, QJsonValue::Type type) {
        return object.value(QLatin1String(key)).type() == type;
    };
    if (object.value(QLatin1String("version")).toInt() != formatVersion ||
        !has("networkService", QJsonValue::String) || !has("proxySwitchedOn", QJsonValue::Bool) ||
        !has("port", QJsonValue::Double) || !has("username", QJsonValue::String) ||
        !has("server", QJsonValue::String))
        return std::nullopt;

    TunnelRecord record;
    record.networkService = object.value(QLatin1String("networkService")).toString();
    record.proxySwitchedOn = object.value(QLatin1String("proxySwitchedOn")).toBool();
    record.port = object.value(QLatin1String("port")).toInteger();
    record.username = object.value(QLatin1String("username")).toString();
    record.server = object.value(QLatin1String("server")).toString();
    // Records of earlier versions name no key: ssh's own keys then.
    if (has("privateKey", QJsonValue::String) && has("privateKeyFile", QJsonValue::String)) {
        record.privateKey = object.value(QLatin1String("privateKey")).toString();
        record.privateKeyFile = object.value(QLatin1String("privateKeyFile")).toString();
    } else if (object.contains(QLatin1String("privateKey")) ||
               object.contains(QLatin1String("privateKeyFile"))) {
        return std::nullopt;
    }
    if (object.contains(QLatin1String("sshPid"))) {
        bool ok = false;
        const qint64 pid = object.value(QLatin1String("sshPid")).toInteger();
        const quint64 start =
            object.value(QLatin1String("sshStartTime")).toString().toULongLong(&ok);
        if (!ok || pid <= 1 || pid > std::numeric_limits<pid_t>::max() ||
            !has("bootId", QJsonValue::String))
            return std::nullopt;
        record.ssh = ProcessIdentity{static_cast<pid_t>(pid), start,
                                     object.value(QLatin1String("bootId")).toString().toLatin1()};
    }
    return record;
}

QString proxyOffCommand(const TunnelRecord &record) {
    TunnelSettings switched;
    switched.networkService = record.networkService;
    return proxyOffCommand(switched);
}

Recovery recoveryFor(const std::optional<TunnelRecord> &record, bool sshRunning) {
    if (!record)
        return Recovery::Nothing;
    if (record->ssh && sshRunning)
        return Recovery::Adopt;
    if (record->proxySwitchedOn && !record->networkService.isEmpty())
        return Recovery::SwitchOff;
    return Recovery::Forget;
}

Recovery recoveryFor(const std::optional<TunnelRecord> &record) {
    return recoveryFor(record, record && record->ssh && isRunning(*record->ssh));
}

QString TunnelRecordFile::defaultDirectory() {
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (QDir::isAbsolutePath(state))
        return QDir::cleanPath(state + QStringLiteral("/zentrel-vpn"));
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty()) {
        if (const passwd *entry = getpwuid(getuid()))
            home = QFile::decodeName(entry->pw_dir);
    }
    return QDir::cleanPath(home + QStringLiteral("/.local/state/zentrel-vpn"));
}

TunnelRecordFile::TunnelRecordFile(QString directory) : m_directory(std::move(directory)) {}

QString TunnelRecordFile::path() const {
    return m_directory + QStringLiteral("/tunnel");
}

TunnelRecordFile::Loaded TunnelRecordFile::load() const {
    Loaded loaded;
    if (!QFileInfo::exists(m_directory) && !QFileInfo(m_directory).isSymLink())
        return loaded;
    if (!isPrivateFolder(m_directory, loaded.error))
        return loaded;
    const QByteArray path = QFile::encodeName(this->path());
    const int fd = open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            loaded.error = tr("Cannot read %1: %2.").arg(this->path(), systemError(errno));
        return loaded;
    }
    struct stat info {};
    QByteArray content;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == getuid() &&
        info.st_size <= sizeLimit) {
        content.resize(static_cast<qsizetype>(info.st_size) + 1);
        qsizetype total = 0;
        ssize_t count;
        while ((count = read(fd, content.data() + total, content.size() - total)) > 0 ||
               (count < 0 && errno == EINTR))
            total += count > 0 ? count : 0;
        content.truncate(total);
        loaded.record = parseTunnelRecord(content);
    }
    close(fd);
    if (!loaded.record)
        loaded.error =
            tr("%1 is not a record that Zentrel VPN wrote (or it is damaged).").arg(this->path());
    return loaded;
}

bool TunnelRecordFile::save(const TunnelRecord &record, QString &error) const {
    if (!makePrivateFolder(m_directory, error))
        return false;
    // A new file of our own, never one that someone placed there, then renamed into place.
    QByteArray temporary = QFile::encodeName(path()) + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = tr("Cannot write %1: %2.").arg(path(), systemError(errno));
        return false;
    }
    const QByteArray content = serializeTunnelRecord(record);
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t count = write(fd, content.constData() + written, content.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        written += count;
    }
    const bool complete = written == content.size() && fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    if (!complete || rename(temporary.constData(), QFile::encodeName(path()).constData()) != 0) {
        error = tr("Cannot write %1: %2.").arg(path(), systemError(complete ? errno : savedErrno));
        unlink(temporary.constData());
        return false;
    }
    syncFolder(m_directory); // only then does the rename outlast a power cut
    return true;
}

bool TunnelRecordFile::clear(QString &error) const {
    if (unlink(QFile::encodeName(path()).constData()) != 0) {
        if (errno == ENOENT)
            return true;
        error = tr("Cannot remove %1: %2.").arg(path(), systemError(errno));
        return false;
    }
    syncFolder(m_directory);
    return true;
}
