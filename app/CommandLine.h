#pragma once

#include "RemoteCommand.h"

// What the command line asks main() to do. Decided before any window system is touched, so
// that --help, --version and the login check work without a display.
struct CommandLineRequest {
    enum class Action {
        StartApplication,
        // Undo what an earlier run left behind at login, then end; never opens a window.
        RestoreProxy,
        // --connect, --disconnect or --status: ask the running instance (remote below).
        Remote,
        // Help, version or an error has been printed: end with exitCode.
        Exit,
    };
    Action action = Action::StartApplication;
    int exitCode = 0;
    RemoteCommand remote;
};

// Parses the arguments, prints help, the version or an error where asked, and checks that a
// display is there for the application to start on. Qt's own options (-platform, -session,
// -style, …) are accepted and left in argv for QApplication.
CommandLineRequest handleCommandLine(int argc, char **argv);
