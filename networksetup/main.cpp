#include "cli.h"

int main(int argc, char **argv) {
    return zentrel::networksetup::run(std::vector<std::string>(argv + 1, argv + argc));
}
