#pragma once

#include <chrono>

class SingleInstance;

// What `zentrel-vpn --connect | --disconnect | --status` asks of the running instance.
struct RemoteCommand {
    enum class Kind { Connect, Disconnect, Status };
    Kind kind = Kind::Status;
    bool json = false; // --status --json
    std::chrono::seconds timeout{60};
};

// Asks the running instance (starting the application first for a connect, as a normal launch
// would), waits for the outcome within the command's timeout, prints it and returns the exit
// status: 0 for success or a connected tunnel, 1 for a failure (the reason on standard error),
// 3 for a status other than connected. Needs a QCoreApplication.
int runRemoteCommand(const RemoteCommand &command, SingleInstance &instance);
