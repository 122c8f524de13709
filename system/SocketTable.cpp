#include "SocketTable.h"

#include "IpAddress.h"
#include "Netlink.h"

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
// Where a connection to "localhost" can arrive: 127.0.0.1, ::1, and the wildcards, each also
// as an IPv4 address mapped into IPv6.
bool takesLocalhost(const QByteArray &listening) {
    static const QByteArray v6Loopback = QByteArray(15, '\0') + '\x01';
    const QByteArray address = unmappedAddress(listening);
    const bool wildcard = !address.isEmpty() && address.count('\0') == address.size();
    return wildcard || address == v6Loopback || (address.size() == 4 && quint8(address[0]) == 127);
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
    using namespace netlink;
    Request request{};
    auto *question = reinterpret_cast<inet_diag_req_v2 *>(request.payload);
    question->sdiag_family = family;
    question->sdiag_protocol = IPPROTO_TCP;
    question->idiag_states = (1u << TCP_LISTEN) | (1u << TCP_ESTABLISHED);
    question->idiag_ext = 1u << (INET_DIAG_INFO - 1);
    const int addressSize = family == AF_INET ? 4 : 16;
    const Answer answer =
        ask(fd, request, SOCK_DIAG_BY_FAMILY, NLM_F_DUMP, NLMSG_LENGTH(sizeof(inet_diag_req_v2)),
            [&](nlmsghdr *reply) {
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
                forEachAttribute(
                    reinterpret_cast<rtattr *>(const_cast<inet_diag_msg *>(entry) + 1),
                    static_cast<int>(reply->nlmsg_len - NLMSG_LENGTH(sizeof(inet_diag_msg))),
                    [&](const rtattr *attribute) {
                        // Older kernels send a shorter tcp_info; the round trip is near its start.
                        if (attribute->rta_type != INET_DIAG_INFO ||
                            RTA_PAYLOAD(attribute) < offsetof(tcp_info, tcpi_rtt) + sizeof(quint32))
                            return;
                        tcp_info info{};
                        std::memcpy(&info, RTA_DATA(attribute),
                                    qMin(size_t(RTA_PAYLOAD(attribute)), sizeof info));
                        if (info.tcpi_rtt > 0)
                            socket.roundTripMicroseconds = info.tcpi_rtt;
                    });
                sockets.append(socket);
            });
    return answer == Answer::Given;
}
} // namespace

std::optional<QList<TcpSocket>> readTcpSockets() {
    const int fd = netlink::openQuestionSocket(NETLINK_SOCK_DIAG);
    if (fd < 0)
        return std::nullopt;
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
