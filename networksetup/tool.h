#pragma once

#include <string>
#include <vector>

namespace zentrel::networksetup {

struct ToolResult {
    bool started = false; // false when the program could not be executed at all
    int exitStatus = -1;  // exit code, or -1 when killed by a signal
    std::string output;   // standard output; standard error passes through to ours
};

// Runs a program found on PATH with the given arguments, without a shell, and waits for it.
ToolResult runTool(const std::vector<std::string> &argv);

// First directory on PATH holding an executable of that name, or "".
std::string findOnPath(const std::string &program);

} // namespace zentrel::networksetup
