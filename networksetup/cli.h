#pragma once

#include <string>
#include <vector>

namespace zentrel::networksetup {

enum ExitCode {
    exitOk = 0,
    exitFailed = 1,   // the request was valid but could not be carried out fully
    exitBadUsage = 2, // bad or missing arguments, unknown service: nothing was changed
};

// Runs one command line (without the program name); returns the exit code.
int run(const std::vector<std::string> &args);

} // namespace zentrel::networksetup
