#include "NetworkWatcher.h"

#include "IpAddress.h"
#include "Netlink.h"

#include <QSocketNotifier>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
// Long enough to take a burst of announcements (a link going down removes several routes and
// addresses) as one change, short enough to restart well within two seconds.
constexpr int settleMs = 150;

bool isLinkLocal(const QByteArray &address) {
    return (address.size() == 16 && quint8(address[0]) == 0xfe &&
            (quint8(address[1]) & 0xc0) == 0x80) ||
           (address.size() == 4 && quint8(address[0]) == 169 && quint8(address[1]) == 254);
}
} // namespace

NetworkChange networkChangeBetween(const NetworkPath &before, const NetworkPath &after) {
    if (before.reachable && !after.reachable)
        return NetworkChange::Lost;
    if (!before.reachable && after.reachable)
        return NetworkChange::Returned;
    if (!after.reachable)
        return NetworkChange::None;
    if (before.interfaceIndex != after.interfaceIndex || before.gateway != after.gateway)
        return NetworkChange::Changed;
    const bool addressGone =
        std::any_of(before.addresses.begin(), before.addresses.end(),
                    [&](const QByteArray &address) { return !after.addresses.contains(address); });
    return addressGone ? NetworkChange::Changed : NetworkChange::None;
}

#ifdef Q_OS_LINUX
namespace {
using namespace netlink;

// The kernel's route to `destination` (RTM_GETROUTE without NLM_F_DUMP: the lookup a packet
// would get, not the tables). Leaves `path` unreachable when there is none.
Answer routeTo(int fd, const QByteArray &destination, NetworkPath &path) {
    path = NetworkPath{};
    Request request{};
    auto *route = reinterpret_cast<rtmsg *>(NLMSG_DATA(&request.header));
    route->rtm_family = destination.size() == 4 ? AF_INET : AF_INET6;
    route->rtm_dst_len = static_cast<unsigned char>(destination.size() * 8);
    auto *attribute =
        reinterpret_cast<rtattr *>(reinterpret_cast<char *>(route) + NLMSG_ALIGN(sizeof(rtmsg)));
    attribute->rta_type = RTA_DST;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(destination.size()));
    std::copy(destination.begin(), destination.end(), static_cast<char *>(RTA_DATA(attribute)));
    const size_t length = NLMSG_LENGTH(NLMSG_ALIGN(sizeof(rtmsg)) + RTA_ALIGN(attribute->rta_len));
    return ask(fd, request, RTM_GETROUTE, 0, length, [&](nlmsghdr *message) {
        if (message->nlmsg_type != RTM_NEWROUTE)
            return;
        auto *answer = static_cast<rtmsg *>(NLMSG_DATA(message));
        // Unreachable, prohibit and blackhole routes answer with an error or with their type.
        if (answer->rtm_type != RTN_UNICAST && answer->rtm_type != RTN_LOCAL)
            return;
        forEachAttribute(
            RTM_RTA(answer), static_cast<int>(RTM_PAYLOAD(message)), [&](rtattr *attribute) {
                if (attribute->rta_type == RTA_OIF)
                    path.interfaceIndex = *static_cast<int *>(RTA_DATA(attribute));
                else if (attribute->rta_type == RTA_GATEWAY || attribute->rta_type == RTA_VIA)
                    path.gateway = attributeBytes(attribute);
            });
        path.reachable = path.interfaceIndex != 0;
    });
}

// Whether the interface carries packets: the kernel still routes over a link that lost its
// carrier (a Wi-Fi out of range), but nothing arrives.
bool isRunning(int fd, int interfaceIndex) {
    Request request{};
    auto *link = static_cast<ifinfomsg *>(NLMSG_DATA(&request.header));
    link->ifi_index = interfaceIndex;
    unsigned flags = IFF_UP | IFF_RUNNING; // unknown when the kernel does not say
    const Answer answer =
        ask(fd, request, RTM_GETLINK, 0, NLMSG_LENGTH(sizeof(ifinfomsg)), [&](nlmsghdr *message) {
            if (message->nlmsg_type == RTM_NEWLINK)
                flags = static_cast<ifinfomsg *>(NLMSG_DATA(message))->ifi_flags;
        });
    return answer != Answer::Refused && (flags & IFF_UP) && (flags & IFF_RUNNING);
}

QList<QByteArray> addressesOf(int fd, int interfaceIndex) {
    QList<QByteArray> addresses;
    Request request{};
    static_cast<ifaddrmsg *>(NLMSG_DATA(&request.header))->ifa_family = AF_UNSPEC;
    ask(fd, request, RTM_GETADDR, NLM_F_DUMP, NLMSG_LENGTH(sizeof(ifaddrmsg)),
        [&](nlmsghdr *message) {
            if (message->nlmsg_type != RTM_NEWADDR)
                return;
            auto *address = static_cast<ifaddrmsg *>(NLMSG_DATA(message));
            if (static_cast<int>(address->ifa_index) != interfaceIndex)
                return;
            forEachAttribute(IFA_RTA(address), static_cast<int>(IFA_PAYLOAD(message)),
                             [&](rtattr *attribute) {
                                 const QByteArray bytes = attributeBytes(attribute);
                                 if (attribute->rta_type == IFA_ADDRESS && !isLinkLocal(bytes) &&
                                     !addresses.contains(bytes))
                                     addresses.append(bytes);
                             });
        });
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}
} // namespace

NetworkPath readNetworkPath(const QByteArray &destination) {
    static const QByteArray anywhereIPv4("\xc0\x00\x02\x01", 4); // 192.0.2.1
    static const QByteArray anywhereIPv6("\x20\x01\x0d\xb8\0\0\0\0\0\0\0\0\0\0\0\x01", 16);
    const NetworkPath assumeUp{true, 0, {}, {}};
    const int fd = netlink::openQuestionSocket(NETLINK_ROUTE);
    if (fd < 0)
        return assumeUp;

    NetworkPath path;
    const QByteArray target = unmappedAddress(destination);
    Answer answer = routeTo(fd, target.isEmpty() ? anywhereIPv4 : target, path);
    if (target.isEmpty() && !path.reachable && answer != Answer::Silent)
        answer = routeTo(fd, anywhereIPv6, path);
    if (answer == Answer::Silent) {
        close(fd);
        return assumeUp;
    }
    if (path.reachable && !isRunning(fd, path.interfaceIndex))
        path = NetworkPath{};
    if (path.reachable)
        path.addresses = addressesOf(fd, path.interfaceIndex);
    close(fd);
    return path;
}

NetworkWatcher::NetworkWatcher(QObject *parent) : QObject(parent) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    QObject::connect(&m_settle, &QTimer::timeout, this, [this] { reread(Reading::Settled); });

    m_socket = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    // Links too: an IPv4 route that goes with its link is removed without an announcement.
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE |
                        RTMGRP_IPV6_ROUTE;
    if (m_socket >= 0 &&
        bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(m_socket);
        m_socket = -1;
    }
    if (m_socket >= 0) { // rules too: they choose the table a route is looked up in
        for (int group : {RTNLGRP_IPV4_RULE, RTNLGRP_IPV6_RULE})
            setsockopt(m_socket, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group);
    }
    m_current = readNetworkPath();
    if (m_socket < 0)
        return; // nothing will be announced: the network simply counts as up
    auto *notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    QObject::connect(notifier, &QSocketNotifier::activated, this, &NetworkWatcher::onAnnouncement);
}

NetworkWatcher::~NetworkWatcher() {
    if (m_socket >= 0)
        close(m_socket);
}

void NetworkWatcher::onAnnouncement() {
    // What was announced is not looked at: the state is read afresh, at once and again once the
    // burst has settled.
    char buffer[8192];
    for (;;) {
        const ssize_t length = recv(m_socket, buffer, sizeof buffer, 0);
        if (length > 0 || (length < 0 && errno == EINTR))
            continue;
        break; // drained, or overflowed (ENOBUFS): the readings catch up either way
    }
    reread(Reading::Early);
    m_settle.start();
}
#else
NetworkPath readNetworkPath(const QByteArray &) {
    return NetworkPath{true, 0, {}, {}};
}

NetworkWatcher::NetworkWatcher(QObject *parent) : QObject(parent) {
    m_current = readNetworkPath();
}

NetworkWatcher::~NetworkWatcher() = default;

void NetworkWatcher::onAnnouncement() {}
#endif

void NetworkWatcher::setDestination(const QByteArray &address) {
    const QByteArray destination = unmappedAddress(address);
    if (destination == m_destination)
        return;
    m_destination = destination;
    // Another destination is no change of the network, but one without a route is its loss.
    const NetworkPath now = readNetworkPath(m_destination);
    const bool lost = m_current.reachable && !now.reachable;
    m_current = now;
    if (lost)
        emit changed(NetworkChange::Lost);
}

void NetworkWatcher::reread(Reading reading) {
    const NetworkPath now = readNetworkPath(m_destination);
    const NetworkChange change = networkChangeBetween(m_current, now);
    // A route that returns is taken at once: the tunnel waits for it. One that goes, or moves,
    // is believed once the burst has settled: even replacing a route by itself leaves a moment
    // without one, and acting on it would end a working tunnel.
    if (reading == Reading::Early && change != NetworkChange::Returned)
        return;
    m_current = now;
    if (change != NetworkChange::None)
        emit changed(change);
}
