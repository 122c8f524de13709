#pragma once

#include "ProcessIdentity.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <optional>

// What a connect has changed on the system, kept on disk so that a later run (or the check at
// login) can take over a tunnel that outlived us, or put the proxy back after a crash.
struct TunnelRecord {
    QString networkService; // whose proxy was switched on; empty when none was
    bool proxySwitchedOn = false;
    qint64 port = 0;
    QString username;
    QString server;
    std::optional<ProcessIdentity> ssh; // absent until ssh has been started
    // The key choice, so that a tunnel taken over is restarted with the command it began with.
    QString privateKey = QStringLiteral("default");
    QString privateKeyFile;

    bool operator==(const TunnelRecord &other) const {
        return networkService == other.networkService && proxySwitchedOn == other.proxySwitchedOn &&
               port == other.port && username == other.username && server == other.server &&
               privateKey == other.privateKey && privateKeyFile == other.privateKeyFile &&
               ssh == other.ssh;
    }
};

QByteArray serializeTunnelRecord(const TunnelRecord &record);
// Nullopt for anything but a complete record written by serializeTunnelRecord.
std::optional<TunnelRecord> parseTunnelRecord(const QByteArray &text);

// The command that switches off the proxy the record says was switched on.
QString proxyOffCommand(const TunnelRecord &record);

// What to do at launch about what an earlier run left behind.
enum class Recovery {
    Nothing,   // no record: the earlier run ended cleanly
    Adopt,     // its ssh still runs: take it over as our tunnel
    SwitchOff, // its ssh is gone but the proxy is still switched on: put it back
    Forget,    // nothing of it is left switched on: drop the record
};
Recovery recoveryFor(const std::optional<TunnelRecord> &record, bool sshRunning);
// The same, for whether the recorded ssh (that very process) runs now.
Recovery recoveryFor(const std::optional<TunnelRecord> &record);

// The record's file, in a folder that only the user may change. It is never followed through
// a symlink and never read without limits, since anyone who can write there could otherwise
// make us act on another process or another file.
class TunnelRecordFile {
    Q_DECLARE_TR_FUNCTIONS(TunnelRecordFile)

public:
    // $XDG_STATE_HOME/zentrel-vpn (~/.local/state/zentrel-vpn), beside the proxy helper's state.
    static QString defaultDirectory();
    explicit TunnelRecordFile(QString directory = defaultDirectory());

    QString path() const;

    struct Loaded {
        std::optional<TunnelRecord> record;
        QString error; // set when a record is there but cannot be trusted or read
    };
    Loaded load() const;
    bool save(const TunnelRecord &record, QString &error) const;
    bool clear(QString &error) const;

private:
    QString m_directory;
};
