#include "ProcessIdentity.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#ifdef Q_OS_MACOS
#include <sys/sysctl.h>
#include <sys/time.h>
#endif

namespace {
QByteArray readSmallFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    return file.read(4096);
}

QByteArray currentBootId() {
#ifdef Q_OS_MACOS
    timeval boot{};
    size_t size = sizeof boot;
    int name[] = {CTL_KERN, KERN_BOOTTIME};
    if (sysctl(name, 2, &boot, &size, nullptr, 0) != 0)
        return {};
    return QByteArray::number(qint64(boot.tv_sec)) + '.' + QByteArray::number(qint64(boot.tv_usec));
#else
    return readSmallFile(QStringLiteral("/proc/sys/kernel/random/boot_id")).trimmed();
#endif
}
} // namespace

std::optional<quint64> startTimeFromProcStat(const QByteArray &stat) {
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    // After the name: state, then fields 4 to 22; the start time is field 22.
    const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
    if (fields.size() < 20 || fields.at(0) == "Z" || fields.at(0) == "X")
        return std::nullopt;
    bool ok = false;
    const quint64 start = fields.at(19).toULongLong(&ok);
    return ok ? std::optional<quint64>(start) : std::nullopt;
}

std::optional<ProcessIdentity> identifyProcess(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
#ifdef Q_OS_MACOS
    kinfo_proc info{};
    size_t size = sizeof info;
    int name[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    if (sysctl(name, 4, &info, &size, nullptr, 0) != 0 || size == 0 || info.kp_proc.p_stat == SZOMB)
        return std::nullopt;
    const timeval &started = info.kp_proc.p_starttime;
    const std::optional<quint64> start =
        quint64(started.tv_sec) * 1000000 + quint64(started.tv_usec);
#else
    const std::optional<quint64> start =
        startTimeFromProcStat(readSmallFile(QStringLiteral("/proc/%1/stat").arg(pid)));
#endif
    if (!start)
        return std::nullopt;
    return ProcessIdentity{pid, *start, currentBootId()};
}

bool isRunning(const ProcessIdentity &identity) {
    const std::optional<ProcessIdentity> now = identifyProcess(identity.pid);
    return now && *now == identity;
}

bool hasChildRunning(pid_t pid, const QString &program) {
#ifdef Q_OS_LINUX
    const QString wanted = QFileInfo(program).canonicalFilePath();
    const QList<QByteArray> children =
        readSmallFile(QStringLiteral("/proc/%1/task/%1/children").arg(pid)).simplified().split(' ');
    for (const QByteArray &child : children) {
        const QString running =
            QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(QString::fromLatin1(child)));
        if (!child.isEmpty() && !wanted.isEmpty() && running == wanted)
            return true;
    }
#else
    Q_UNUSED(pid);
    Q_UNUSED(program);
#endif
    return false;
}
