#pragma once

#include "BenchStats.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// What the benchmark programs look at in their own process, and how they wait.
namespace bench {

inline double heapKiB() {
    return double(mallinfo2().uordblks) / 1024.0;
}

inline double rssKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0.0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble();
    return 0.0;
}

// Whether something listens on 127.0.0.1:port.
inline bool portAccepts(unsigned short port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool accepted =
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return accepted;
}

// Runs the event loop until `condition` holds; a run that never gets there is no figure.
template <typename Condition>
void spinUntil(Condition condition, const char *what, useconds_t pause = 200) {
    const auto start = Clock::now();
    while (!condition()) {
        QCoreApplication::processEvents();
        if (millisecondsSince(start) > 20000) {
            std::fprintf(stderr, "timed out waiting for %s\n", what);
            std::exit(1);
        }
        usleep(pause);
    }
}

// Lets the tray fetch and paint the icon, as it would between two real state changes.
inline void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
    }
}

} // namespace bench
