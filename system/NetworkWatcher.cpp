#include "NetworkWatcher.h"

#include <QSocketNotifier>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <climits>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
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
    if (before.hasDefaultRoute && !after.hasDefaultRoute)
        return NetworkChange::Lost;
    if (!before.hasDefaultRoute && after.hasDefaultRoute)
        return NetworkChange::Returned;
    if (!after.hasDefaultRoute)
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
// Sends one dump request and hands every answering message to `take`.
template <typename Take>
bool dump(int fd, quint16 type, unsigned char family, size_t headerSize, Take take) {
    struct {
        nlmsghdr header;
        char payload[64];
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(headerSize);
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.payload[0] = static_cast<char>(family); // rtm_family / ifa_family come first
    if (send(fd, &request, request.header.nlmsg_len, 0) < 0)
        return false;
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        const ssize_t length = recv(fd, buffer, sizeof buffer, 0);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            return false;
        int remaining = static_cast<int>(length);
        for (auto *message = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(message, remaining);
             message = NLMSG_NEXT(message, remaining)) {
            if (message->nlmsg_type == NLMSG_DONE)
                return true;
            if (message->nlmsg_type == NLMSG_ERROR)
                return false;
            take(message);
        }
    }
}

QByteArray attributeBytes(const rtattr *attribute) {
    return QByteArray(static_cast<const char *>(RTA_DATA(attribute)),
                      static_cast<qsizetype>(RTA_PAYLOAD(attribute)));
}
} // namespace

NetworkPath readNetworkPath() {
    NetworkPath path;
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        path.hasDefaultRoute = true;
        return path;
    }
    timeval timeout{1, 0}; // the kernel answers at once; never hang on it
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    quint32 bestMetric = UINT_MAX;
    const bool routesRead =
        dump(fd, RTM_GETROUTE, AF_UNSPEC, sizeof(rtmsg), [&](nlmsghdr *message) {
            if (message->nlmsg_type != RTM_NEWROUTE)
                return;
            const auto *route = static_cast<const rtmsg *>(NLMSG_DATA(message));
            if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST ||
                (route->rtm_flags & RTNH_F_LINKDOWN))
                return;
            int attributesLength = static_cast<int>(RTM_PAYLOAD(message));
            quint32 table = route->rtm_table, metric = 0;
            int interface = 0;
            QByteArray gateway;
            for (auto *attribute = RTM_RTA(route); RTA_OK(attribute, attributesLength);
                 attribute = RTA_NEXT(attribute, attributesLength)) {
                if (attribute->rta_type == RTA_TABLE)
                    table = *static_cast<const quint32 *>(RTA_DATA(attribute));
                else if (attribute->rta_type == RTA_OIF)
                    interface = *static_cast<const int *>(RTA_DATA(attribute));
                else if (attribute->rta_type == RTA_PRIORITY)
                    metric = *static_cast<const quint32 *>(RTA_DATA(attribute));
                else if (attribute->rta_type == RTA_GATEWAY)
                    gateway = attributeBytes(attribute);
            }
            if (table != RT_TABLE_MAIN || interface == 0 ||
                (path.hasDefaultRoute && metric >= bestMetric))
                return;
            path.hasDefaultRoute = true;
            path.interfaceIndex = interface;
            path.gateway = gateway;
            bestMetric = metric;
        });
    if (!routesRead) {
        close(fd);
        return NetworkPath{true, 0, {}, {}};
    }
    if (path.hasDefaultRoute) {
        dump(fd, RTM_GETADDR, AF_UNSPEC, sizeof(ifaddrmsg), [&](nlmsghdr *message) {
            if (message->nlmsg_type != RTM_NEWADDR)
                return;
            const auto *address = static_cast<const ifaddrmsg *>(NLMSG_DATA(message));
            if (static_cast<int>(address->ifa_index) != path.interfaceIndex)
                return;
            int attributesLength = static_cast<int>(IFA_PAYLOAD(message));
            for (auto *attribute = IFA_RTA(address); RTA_OK(attribute, attributesLength);
                 attribute = RTA_NEXT(attribute, attributesLength)) {
                if (attribute->rta_type != IFA_ADDRESS)
                    continue;
                const QByteArray bytes = attributeBytes(attribute);
                if (!isLinkLocal(bytes) && !path.addresses.contains(bytes))
                    path.addresses.append(bytes);
            }
        });
        std::sort(path.addresses.begin(), path.addresses.end());
    }
    close(fd);
    return path;
}

NetworkWatcher::NetworkWatcher(QObject *parent) : QObject(parent) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    QObject::connect(&m_settle, &QTimer::timeout, this, &NetworkWatcher::reread);

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
    // What was announced is not looked at: the state is read afresh once it has settled.
    char buffer[8192];
    for (;;) {
        const ssize_t length = recv(m_socket, buffer, sizeof buffer, 0);
        if (length > 0 || (length < 0 && errno == EINTR))
            continue;
        break; // drained, or overflowed (ENOBUFS): the reading below catches up either way
    }
    if (!m_settle.isActive())
        m_settle.start();
}
#else
NetworkPath readNetworkPath() {
    return NetworkPath{true, 0, {}, {}};
}

NetworkWatcher::NetworkWatcher(QObject *parent) : QObject(parent) {
    m_current = readNetworkPath();
}

NetworkWatcher::~NetworkWatcher() = default;

void NetworkWatcher::onAnnouncement() {}
#endif

void NetworkWatcher::reread() {
    const NetworkPath now = readNetworkPath();
    const NetworkChange change = networkChangeBetween(m_current, now);
    m_current = now;
    if (change != NetworkChange::None)
        emit changed(change);
}
