#include "cli.h"

#include <csignal>

int main(int argc, char **argv) {
    // Whoever started us may ignore SIGCHLD, which we inherit: the tools' exit statuses would
    // then be reaped away before we could read them.
    std::signal(SIGCHLD, SIG_DFL);
    return zentrel::networksetup::run(std::vector<std::string>(argv + 1, argv + argc));
}
