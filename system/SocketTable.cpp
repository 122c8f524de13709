#include "SocketTable.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
bool isLoopback(const QByteArray &address) {
    static const QByteArray v6Loopback = QByteArray(15, '\0') + '\x01';
    if (address.size() == 4)
        return quint8(address[0]) == 127;
    if (address == v6Loopback)
        return true;
    // ::ffff:127.x.x.x
    return address.size() == 16 && address.startsWith(QByteArray(10, '\0') + "\xff\xff") &&
           quint8(address[12]) == 127;
}

// Where a connection to "localhost" can arrive: 127.0.0.1, ::1, and the wildcards.
bool takesLocalhost(const QByteArray &address) {
    static const QByteArray v4Wildcard(4, '\0');
    static const QByteArray v6Wildcard(16, '\0');
    static const QByteArray mappedWildcard = QByteArray(10, '\0') + "\xff\xff" + v4Wildcard;
    return address == v4Wildcard || address == v6Wildcard || address == mappedWildcard ||
           isLoopback(address);
}
} // namespace

PortHolder portHolder(const QList<TcpSocket> &sockets, quint16 port, const QSet<quint64> &ours) {
    PortHolder holder = PortHolder::Nobody;
    for (const TcpSocket &socket : sockets) {
        if (!socket.listening || socket.localPort != port || !takesLocalhost(socket.localAddress))
            continue;
        if (!ours.contains(socket.inode))
            return PortHolder::Other;
        holder = PortHolder::Us;
    }
    return holder;
}

std::optional<TcpSocket> serverConnectionOf(const QList<TcpSocket> &sockets,
                                            const QSet<quint64> &inodes, quint16 socksPort) {
    for (const TcpSocket &socket : sockets)
        if (!socket.listening && inodes.contains(socket.inode) && socket.localPort != socksPort)
            return socket;
    return std::nullopt;
}

QSet<quint64> socketInodesOf(pid_t pid) {
    QSet<quint64> inodes;
#ifdef Q_OS_LINUX
    // Each entry is a link such as "socket:[12345]"; only its text is read, never followed.
    const QString folder = QStringLiteral("/proc/%1/fd").arg(pid);
    const QStringList entries = QDir(folder).entryList(QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        const QString target = QFile::symLinkTarget(folder + QLatin1Char('/') + entry);
        const QString name = target.mid(target.lastIndexOf(QLatin1Char('/')) + 1);
        if (!name.startsWith(QLatin1String("socket:[")) || !name.endsWith(QLatin1Char(']')))
            continue;
        bool ok = false;
        const quint64 inode = name.mid(8, name.size() - 9).toULongLong(&ok);
        if (ok)
            inodes.insert(inode);
    }
#else
    Q_UNUSED(pid);
#endif
    return inodes;
}

#ifdef Q_OS_LINUX
namespace {
bool dumpFamily(int fd, quint8 family, QList<TcpSocket> &sockets) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.request.sdiag_family = family;
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = (1u << TCP_LISTEN) | (1u << TCP_ESTABLISHED);
    message.request.idiag_ext = 1u << (INET_DIAG_INFO - 1);
    if (send(fd, &message, sizeof message, 0) < 0)
        return false;
    const int addressSize = family == AF_INET ? 4 : 16;
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        const ssize_t length = recv(fd, buffer, sizeof buffer, 0);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            return false;
        int remaining = static_cast<int>(length);
        for (auto *reply = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(reply, remaining);
             reply = NLMSG_NEXT(reply, remaining)) {
            if (reply->nlmsg_type == NLMSG_DONE)
                return true;
            if (reply->nlmsg_type == NLMSG_ERROR)
                return false;
            const auto *entry = static_cast<const inet_diag_msg *>(NLMSG_DATA(reply));
            TcpSocket socket;
            socket.listening = entry->idiag_state == TCP_LISTEN;
            socket.localAddress =
                QByteArray(reinterpret_cast<const char *>(entry->id.idiag_src), addressSize);
            socket.remoteAddress =
                QByteArray(reinterpret_cast<const char *>(entry->id.idiag_dst), addressSize);
            socket.localPort = ntohs(entry->id.idiag_sport);
            socket.remotePort = ntohs(entry->id.idiag_dport);
            socket.inode = entry->idiag_inode;
            int attributesLength =
                static_cast<int>(reply->nlmsg_len - NLMSG_LENGTH(sizeof(inet_diag_msg)));
            for (auto *attribute = reinterpret_cast<const rtattr *>(entry + 1);
                 RTA_OK(attribute, attributesLength);
                 attribute = RTA_NEXT(attribute, attributesLength)) {
                // Older kernels send a shorter tcp_info; the round trip is near its start.
                if (attribute->rta_type == INET_DIAG_INFO &&
                    RTA_PAYLOAD(attribute) >= offsetof(tcp_info, tcpi_rtt) + sizeof(quint32)) {
                    tcp_info info{};
                    std::memcpy(&info, RTA_DATA(attribute),
                                qMin(size_t(RTA_PAYLOAD(attribute)), sizeof info));
                    if (info.tcpi_rtt > 0)
                        socket.roundTripMicroseconds = info.tcpi_rtt;
                }
            }
            sockets.append(socket);
        }
    }
}
} // namespace

std::optional<QList<TcpSocket>> readTcpSockets() {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return std::nullopt;
    timeval timeout{1, 0}; // the kernel answers at once; never hang on it
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    QList<TcpSocket> sockets;
    // Without IPv6 in the kernel there is no IPv6 socket to list either.
    const bool read = dumpFamily(fd, AF_INET, sockets);
    QList<TcpSocket> v6;
    if (read && dumpFamily(fd, AF_INET6, v6))
        sockets += v6;
    close(fd);
    if (!read)
        return std::nullopt;
    return sockets;
}
#else
std::optional<QList<TcpSocket>> readTcpSockets() {
    return std::nullopt;
}
#endif
