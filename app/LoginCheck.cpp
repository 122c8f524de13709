#include "LoginCheck.h"

#include "DesktopNotification.h"
#include "SingleInstance.h"
#include "TimedCommand.h"
#include "TunnelRecord.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QVariantMap>

#include <chrono>
#include <cstdio>

namespace {
// On the terminal, and as a desktop notification where a notification server runs.
void tell(const QString &summary, const QString &body) {
    std::fprintf(stderr, "zentrel-vpn: %s\n", qPrintable(body.isEmpty() ? summary : body));
    notifyDesktop(summary, body, true);
}

CommandOutcome runAndWait(const QString &commandLine) {
    CommandOutcome outcome;
    QEventLoop loop;
    runTimedCommand(commandLine, std::chrono::seconds(10), &loop,
                    [&](const CommandOutcome &result) {
                        outcome = result;
                        loop.quit();
                    });
    loop.exec();
    return outcome;
}
} // namespace

int runLoginCheck(const TunnelRecordFile &recordFile, SingleInstance &instance) {
    // While it reconnects, or connects, a running instance's record names no live ssh, yet the
    // proxy is on for good reason. Where the lock cannot be had at all, no instance can run
    // either, and the check goes on.
    if (instance.holdOffPrimary() == SingleInstance::Hold::PrimaryRunning) {
        std::fprintf(
            stderr, "zentrel-vpn: %s\n",
            qPrintable(QCoreApplication::translate(
                "LoginCheck", "Zentrel VPN is running and looks after the proxy itself.")));
        return 0;
    }
    const TunnelRecordFile::Loaded loaded = recordFile.load();
    if (!loaded.error.isEmpty()) {
        tell(QCoreApplication::translate(
                 "LoginCheck", "Zentrel VPN cannot tell whether your proxy was left switched on"),
             loaded.error);
        return 1;
    }
    const std::optional<TunnelRecord> &record = loaded.record;
    QString error;
    switch (recoveryFor(record)) {
    case Recovery::Nothing:
    case Recovery::Adopt:
        return 0;
    case Recovery::Forget:
        if (recordFile.clear(error))
            return 0;
        tell(error, {});
        return 1;
    case Recovery::SwitchOff:
        break;
    }
    const CommandOutcome outcome = runAndWait(proxyOffCommand(*record));
    if (!outcome.succeeded()) {
        tell(QCoreApplication::translate(
                 "LoginCheck",
                 "The proxy left on by an earlier run of Zentrel VPN could not be switched off"),
             outcome.commandLine + QLatin1Char('\n') + failureDescription(outcome));
        return 1;
    }
    if (!recordFile.clear(error))
        tell(error, {}); // the next check switches it off once more, which does no harm
    tell(QCoreApplication::translate(
             "LoginCheck", "The proxy left on by an earlier run of Zentrel VPN was switched off."),
         {});
    return 0;
}
