#pragma once

// Questions to the kernel over netlink (routes, addresses, sockets), answered at once: the
// socket is given a receive timeout, so that a kernel that says nothing never holds us up.

#include <QByteArray>
#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace netlink {
// A socket for questions in `protocol` (NETLINK_ROUTE, NETLINK_SOCK_DIAG), -1 when there is
// none to be had.
inline int openQuestionSocket(int protocol) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol);
    if (fd >= 0) {
        timeval timeout{1, 0}; // the kernel answers at once; never hang on it
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    return fd;
}

enum class Answer { Given, Refused, Silent };

struct Request {
    nlmsghdr header;
    char payload[64]; // the family's header, then attributes
};

// Sends one request and hands every answering message to `take`. A dump ends with NLMSG_DONE,
// a single question with its one answer; an error message is the kernel's refusal.
template <typename Take>
Answer ask(int fd, Request &request, quint16 type, quint16 flags, size_t length, Take take) {
    static quint32 sequence = 0;
    request.header.nlmsg_len = static_cast<quint32>(length);
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = static_cast<quint16>(NLM_F_REQUEST | flags);
    request.header.nlmsg_seq = ++sequence;
    if (send(fd, &request, length, 0) < 0)
        return Answer::Silent;
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        const ssize_t received = recv(fd, buffer, sizeof buffer, 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return Answer::Silent;
        int remaining = static_cast<int>(received);
        for (auto *message = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(message, remaining);
             message = NLMSG_NEXT(message, remaining)) {
            if (message->nlmsg_seq != request.header.nlmsg_seq)
                continue; // a late answer to an earlier question
            if (message->nlmsg_type == NLMSG_DONE)
                return Answer::Given;
            if (message->nlmsg_type == NLMSG_ERROR)
                return Answer::Refused;
            take(message);
            if (!(message->nlmsg_flags & NLM_F_MULTI))
                return Answer::Given;
        }
    }
}

inline QByteArray attributeBytes(const rtattr *attribute) {
    return QByteArray(static_cast<const char *>(RTA_DATA(attribute)),
                      static_cast<qsizetype>(RTA_PAYLOAD(attribute)));
}

template <typename Take> void forEachAttribute(rtattr *attribute, int length, Take take) {
    for (; RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length))
        take(attribute);
}

} // namespace netlink
#endif
