#pragma once

#include "deadline.h"

#include <string>
#include <vector>

namespace zentrel::networksetup {

struct ToolResult {
    bool started = false;  // false when the program could not be executed at all
    bool timedOut = false; // killed because it had not ended by the deadline
    int exitStatus = -1;   // exit code, or -1 when killed, or when its end could not be known
    std::string output;    // standard output; standard error passes through to ours

    bool succeeded() const { return started && !timedOut && exitStatus == 0; }
};

// Runs a program found on PATH with the given arguments, without a shell, and waits for it
// until the deadline; a program still running then is killed with everything it started.
ToolResult runTool(const std::vector<std::string> &argv, Deadline deadline);

// First directory on PATH holding an executable of that name, or "".
std::string findOnPath(const std::string &program);

} // namespace zentrel::networksetup
