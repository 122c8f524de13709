#pragma once

#include "BenchStats.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace bench {

// Where the first forwarded byte comes from: a server on the tunnel's far side that speaks
// first (sshd's banner), given as an IPv4 address and port as the far side sees them.
struct FarEnd {
    std::string address = "127.0.0.1";
    unsigned short port = 22;
};

// One try through the SOCKS port: greeting, CONNECT to the far end, then its first byte.
// Returns true once that byte has arrived; false when the port does not accept yet or the
// tunnel does not carry.
inline bool firstByteThrough(unsigned short socksPort, const FarEnd &far) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    timeval timeout{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in proxy{};
    proxy.sin_family = AF_INET;
    proxy.sin_port = htons(socksPort);
    proxy.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool carried = false;
    unsigned char buffer[16];
    auto readExactly = [fd](unsigned char *into, size_t count) {
        size_t got = 0;
        while (got < count) {
            const ssize_t n = recv(fd, into + got, count - got, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            got += size_t(n);
        }
        return true;
    };
    if (::connect(fd, reinterpret_cast<sockaddr *>(&proxy), sizeof proxy) == 0) {
        unsigned char request[10] = {5, 1, 0, 1, 0, 0, 0, 0, 0, 0};
        in_addr target{};
        inet_pton(AF_INET, far.address.c_str(), &target);
        std::memcpy(request + 4, &target, 4);
        request[8] = static_cast<unsigned char>(far.port >> 8);
        request[9] = static_cast<unsigned char>(far.port & 0xff);
        const unsigned char greeting[3] = {5, 1, 0};
        carried = send(fd, greeting, 3, MSG_NOSIGNAL) == 3 && readExactly(buffer, 2) &&
                  buffer[0] == 5 && buffer[1] == 0 &&
                  send(fd, request, sizeof request, MSG_NOSIGNAL) == sizeof request &&
                  readExactly(buffer, 10) && buffer[1] == 0 && readExactly(buffer, 1);
    }
    close(fd);
    return carried;
}

// Tries every `pauseUs` until a byte comes through or `stop` is set; returns the moment it came.
inline Clock::time_point awaitFirstByte(unsigned short socksPort, const FarEnd &far,
                                        const std::atomic<bool> &stop, int pauseUs = 200) {
    while (!stop.load()) {
        if (firstByteThrough(socksPort, far))
            return Clock::now();
        usleep(pauseUs);
    }
    return Clock::time_point{};
}

// Bare `ssh -NTCD<port> destination`, started as a user would; milliseconds from its start to
// the first byte from the far end through it. It is ended before this returns.
inline double bareSshMs(unsigned short socksPort, const std::string &destination, const FarEnd &far,
                        int pauseUs = 200) {
    const std::string forward = "-NTCD" + std::to_string(socksPort);
    char *argv[] = {const_cast<char *>("ssh"), const_cast<char *>(forward.c_str()),
                    const_cast<char *>(destination.c_str()), nullptr};
    std::atomic<bool> stop{false};
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, "ssh", nullptr, nullptr, argv, environ) != 0) {
        std::perror("ssh");
        std::exit(1);
    }
    const auto arrived = awaitFirstByte(socksPort, far, stop, pauseUs);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return std::chrono::duration<double, std::milli>(arrived - start).count();
}

} // namespace bench
