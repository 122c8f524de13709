#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>

#include <optional>
#include <sys/types.h>

// One TCP socket of this network namespace, whoever owns it, as the kernel lists it.
struct TcpSocket {
    bool listening = false;  // else connected (established)
    QByteArray localAddress; // 4 or 16 bytes, network order
    quint16 localPort = 0;
    QByteArray remoteAddress;
    quint16 remotePort = 0;
    quint64 inode = 0;
    // The kernel's smoothed round-trip time of a connection, where it has measured one.
    std::optional<quint32> roundTripMicroseconds;
};

// The listening and connected TCP sockets (IPv4 and IPv6), read from the kernel's socket
// diagnostics; nullopt where the kernel cannot be asked (not Linux, or no answer in time).
std::optional<QList<TcpSocket>> readTcpSockets();

// The inodes of the sockets that the process holds open. Empty for a process that is gone or
// not ours to look into.
QSet<quint64> socketInodesOf(pid_t pid);

// Who listens on a port where clients of "localhost" arrive: 127.0.0.1 and ::1, and the
// wildcard addresses that take those too.
enum class PortHolder {
    Nobody,
    Us,    // every such listener is one of `ours`
    Other, // at least one belongs to someone else
};
PortHolder portHolder(const QList<TcpSocket> &sockets, quint16 port, const QSet<quint64> &ours);

// The connection of ssh's (of `inodes`) to its server, or to the first hop on the way there:
// the one that is not a client of its SOCKS port `socksPort`.
std::optional<TcpSocket> serverConnectionOf(const QList<TcpSocket> &sockets,
                                            const QSet<quint64> &inodes, quint16 socksPort);
