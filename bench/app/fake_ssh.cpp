// A stand-in for ssh in the cycle benchmark: `ssh -NTCD PORT ...` that only opens the SOCKS
// port and closes whatever connects to it, until it is told to end.
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char *argv[]) {
    int port = 0;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "-NTCD", 5) == 0)
            port = std::atoi(argv[i] + 5);
    if (port <= 0)
        return 255;
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(server, 8) != 0)
        return 255;
    for (;;) {
        const int client = accept(server, nullptr, nullptr);
        if (client >= 0)
            close(client);
    }
}
