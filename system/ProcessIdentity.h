#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <sys/types.h>

// A process told apart from any later one that gets the same number: its pid, when it started
// and in which boot, so that a record written before a reboot or a crash never names a
// stranger.
struct ProcessIdentity {
    pid_t pid = 0;
    quint64 startTime = 0; // clock ticks since boot (Linux), microseconds since 1970 (macOS)
    QByteArray bootId;

    bool operator==(const ProcessIdentity &other) const {
        return pid == other.pid && startTime == other.startTime && bootId == other.bootId;
    }
    bool operator!=(const ProcessIdentity &other) const { return !(*this == other); }
};

// The identity of a live process, or nullopt when there is none with that pid (a zombie
// counts as ended).
std::optional<ProcessIdentity> identifyProcess(pid_t pid);

// Whether that very process still runs.
bool isRunning(const ProcessIdentity &identity);

// The start time in /proc/PID/stat's text, or nullopt for a zombie or a damaged text. The
// command name in parentheses may hold blanks and parentheses itself.
std::optional<quint64> startTimeFromProcStat(const QByteArray &stat);

// Whether the process has a child running `program` (ssh's passphrase dialog, say; not the
// proxy command that ssh keeps running for the whole connection).
bool hasChildRunning(pid_t pid, const QString &program);
