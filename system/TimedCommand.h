#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// How one command line ended.
struct CommandOutcome {
    QString commandLine;
    bool started = false;
    QString launchError; // why it could not be started
    bool timedOut = false;
    std::optional<int> exitCode;
    std::optional<int> exitSignal;
    QByteArray output;

    bool succeeded() const { return started && !timedOut && exitCode == 0; }
};

// Why a command that did not succeed failed, in words for the user (its own output included).
QString failureDescription(const CommandOutcome &outcome);

// Runs a command line through /bin/bash -c without holding up the event loop. A command that
// has not ended by the deadline is killed, with everything it started, and reported as timed
// out. `done` runs from the event loop once the command has ended, unless `context` is gone.
void runTimedCommand(const QString &commandLine, std::chrono::milliseconds deadline,
                     QObject *context, std::function<void(const CommandOutcome &)> done);
