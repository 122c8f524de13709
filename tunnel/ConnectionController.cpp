#include "ConnectionController.h"

#include "ShellProcess.h"
#include "SocketTable.h"
#include "SshMonitor.h"

namespace {
// The port ssh is to listen on; none for a number no port can have.
std::optional<quint16> socksPort(const TunnelSettings &tunnel) {
    if (tunnel.port <= 0 || tunnel.port > 65535)
        return std::nullopt;
    return static_cast<quint16>(tunnel.port);
}

// ssh gets this long to end after SIGTERM; then it is killed.
constexpr std::chrono::milliseconds sshTerminationGrace{2000};
constexpr std::chrono::milliseconds defaultCommandDeadline{10000};
} // namespace

bool connectionJobApplies(ConnectionJob job, bool connected, bool quitting) {
    if (quitting)
        return false;
    switch (job) {
    case ConnectionJob::Recover:
    case ConnectionJob::Connect:
        return !connected;
    case ConnectionJob::Disconnect:
    case ConnectionJob::Fail:
    case ConnectionJob::Restart:
        return connected;
    case ConnectionJob::Quit:
        return true;
    }
    return false;
}

ConnectionController::ConnectionController(SettingsSource settings, TunnelRecordFile recordFile,
                                           QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_recordFile(std::move(recordFile)),
      m_commandDeadline(defaultCommandDeadline),
      m_supervisor(TunnelSupervisor::timingFromEnvironment()) {
    QObject::connect(&m_supervisor, &TunnelSupervisor::actionNeeded, this,
                     [this](TunnelAction action) {
                         enqueue({ConnectionJob::Restart, {}, action});
                     });
    QObject::connect(&m_supervisor, &TunnelSupervisor::failed, this,
                     &ConnectionController::reportFailure);
    QObject::connect(&m_supervisor, &TunnelSupervisor::reconnectingChanged, this,
                     &ConnectionController::reconnectingChanged);
    QObject::connect(&m_supervisor, &TunnelSupervisor::phaseChanged, this,
                     &ConnectionController::upChanged);
    m_supervisor.setSshOutput([this] { return m_monitor ? m_monitor->said() : QString(); });
    // A passphrase or host key dialog of ssh's may take the user a while.
    m_supervisor.setStartStillBusy([this] {
        return m_ssh && !m_askPassProgram.isEmpty() &&
               hasChildRunning(m_ssh->pid(), m_askPassProgram);
    });
    m_killTimer.setSingleShot(true);
    QObject::connect(&m_killTimer, &QTimer::timeout, this, [this] {
        if (m_ssh)
            m_ssh->kill();
    });
}

ConnectionController::~ConnectionController() = default;

void ConnectionController::setSshEnvironment(const QStringList &environment) {
    m_sshEnvironment = environment;
    const QLatin1String askPass("SSH_ASKPASS=");
    m_askPassProgram.clear();
    for (const QString &entry : environment)
        if (entry.startsWith(askPass))
            m_askPassProgram = entry.mid(askPass.size());
}

void ConnectionController::recoverEarlierRun() {
    enqueue({ConnectionJob::Recover, {}});
}

void ConnectionController::requestConnect() {
    enqueue({ConnectionJob::Connect, {}});
}

void ConnectionController::requestDisconnect() {
    enqueue({ConnectionJob::Disconnect, {}});
}

void ConnectionController::requestQuit(QuitUrgency urgency) {
    if (urgency == QuitUrgency::InTurn) {
        enqueue({ConnectionJob::Quit, {}});
        return;
    }
    // Ahead of everything but taking over an earlier run's tunnel, which the quit then ends
    // properly instead of leaving it behind.
    m_awaitingAcknowledgement = false;
    auto position = m_jobs.begin();
    while (position != m_jobs.end() && position->kind == ConnectionJob::Recover)
        ++position;
    m_jobs.insert(position, {ConnectionJob::Quit, {}});
    runNext();
}

void ConnectionController::failTunnel(const QString &message) {
    if (m_connected && m_supervisor.isSupervising())
        m_supervisor.sshFailed(message);
    else
        reportFailure(message);
}

void ConnectionController::reportFailure(const QString &message) {
    // One report per tunnel: its error text and its end often both arrive.
    if (!m_connected || m_failureQueued)
        return;
    m_failureQueued = true;
    enqueue({ConnectionJob::Fail, message}, true);
}

void ConnectionController::failureAcknowledged() {
    m_awaitingAcknowledgement = false;
    runNext();
}

void ConnectionController::enqueue(Job job, bool first) {
    if (first)
        m_jobs.push_front(std::move(job));
    else
        m_jobs.push_back(std::move(job));
    runNext();
}

void ConnectionController::runNext() {
    while (!m_busy && !m_awaitingAcknowledgement && !m_jobs.empty()) {
        const Job job = m_jobs.front();
        m_jobs.pop_front();
        if (!connectionJobApplies(job.kind, m_connected, m_quitting))
            continue;
        m_busy = true;
        m_failures.clear();
        switch (job.kind) {
        case ConnectionJob::Recover:
            recover();
            break;
        case ConnectionJob::Connect:
            connectTunnel();
            break;
        case ConnectionJob::Disconnect:
            tearDown([this] {
                reportCommandFailures();
                finishJob();
            });
            break;
        case ConnectionJob::Fail:
            tearDown([this, message = job.message] { finishWithFailure(message); });
            break;
        case ConnectionJob::Restart:
            restart(job.action);
            break;
        case ConnectionJob::Quit: {
            auto quit = [this] {
                reportCommandFailures();
                m_quitting = true;
                finishJob();
                emit quitReady();
            };
            // Not connected, nothing is ours to undo (a record kept for a retry stays).
            m_connected ? tearDown(quit) : quit();
            break;
        }
        }
    }
}

void ConnectionController::finishWithFailure(const QString &message) {
    reportCommandFailures();
    m_awaitingAcknowledgement = true; // what comes next waits until the report has been read
    finishJob();
    emit tunnelFailed(message);
}

void ConnectionController::finishJob() {
    m_busy = false;
    // Later, from the event loop: the job's own signals are handled before the next one starts.
    QMetaObject::invokeMethod(this, &ConnectionController::runNext, Qt::QueuedConnection);
}

void ConnectionController::recover() {
    const TunnelRecordFile::Loaded loaded = m_recordFile.load();
    if (!loaded.error.isEmpty()) {
        emit notice(tr("Zentrel VPN cannot tell whether an earlier run left your proxy switched "
                       "on. %1 If your desktop's proxy points at localhost although you are not "
                       "connected, switch it off in your system settings.")
                        .arg(loaded.error));
        finishJob();
        return;
    }
    const std::optional<TunnelRecord> &record = loaded.record;
    switch (recoveryFor(record)) {
    case Recovery::Nothing:
        finishJob();
        break;
    case Recovery::Forget:
        clearRecord();
        finishJob();
        break;
    case Recovery::Adopt:
        m_tunnel =
            TunnelSettings{record->networkService, record->port,       record->username,
                           record->server,         record->privateKey, record->privateKeyFile};
        m_switchedService = record->proxySwitchedOn ? record->networkService : QString();
        m_ssh = ShellProcess::adopt(*record->ssh);
        watchSsh();
        setConnected(true);
        superviseTunnel();
        finishJob();
        break;
    case Recovery::SwitchOff: {
        runCommand(proxyOffCommand(*record), [this](bool succeeded) {
            // A failure keeps the record, so that the next launch tries again.
            if (succeeded) {
                clearRecord();
                emit notice(
                    tr("The proxy left on by an earlier run of Zentrel VPN was switched off."));
            }
            reportCommandFailures();
            finishJob();
        });
        break;
    }
    }
}

void ConnectionController::connectTunnel() {
    // The last tunnel's ssh has ended (a disconnect waits for that); its pid may be anyone's now.
    m_monitor.reset();
    m_ssh.reset();
    m_tunnel = m_settings();
    m_tunnel.serverAliveSeconds = m_supervisor.serverAliveSeconds();
    // Another program on the port would get the traffic meant for the tunnel (ssh is content
    // when it can listen on one of localhost's addresses): find it before anything changes.
    if (const std::optional<quint16> port = socksPort(m_tunnel)) {
        const std::optional<QList<TcpSocket>> sockets = readTcpSockets();
        if (sockets && portHolder(*sockets, *port, {}) != PortHolder::Nobody) {
            finishWithFailure(TunnelSupervisor::portInUseText(m_tunnel.port));
            return;
        }
    }
    m_switchedService = m_tunnel.networkService;
    if (m_switchedService.isEmpty()) {
        // Switching the proxy of no service can only fail; the tunnel itself still works.
        emit notice(tr("No network service was found, so your desktop's proxy was not switched. "
                       "The tunnel still works: applications can use localhost:%1 as their "
                       "SOCKS proxy, set up by hand.")
                        .arg(m_tunnel.port));
        startSsh();
        return;
    }
    // On disk before the proxy changes, so that a crash from here on can be undone.
    writeRecord();
    runCommand(proxyAddressCommand(m_tunnel), [this](bool) {
        runCommand(proxyOnCommand(m_tunnel), [this](bool) { startSsh(); });
    });
}

void ConnectionController::startSsh() {
    const QString error = launchSsh();
    if (!error.isEmpty()) {
        tearDown([this, error] { finishWithFailure(error); });
        return;
    }
    setConnected(true);
    superviseTunnel();
    reportCommandFailures();
    finishJob();
}

QString ConnectionController::launchSsh() {
    m_monitor.reset();
    m_ssh = runShellCommand(tunnelCommand(m_tunnel), m_sshEnvironment);
    if (!m_ssh->wasLaunched())
        return tr("ssh could not be started: %1. Check the settings in the preferences window; "
                  "a value may be far too long.")
            .arg(m_ssh->launchError());
    writeRecord();
    watchSsh();
    return {};
}

void ConnectionController::superviseTunnel() {
    // A port ssh cannot listen on fails at once; there is nothing to keep up.
    if (const std::optional<quint16> port = socksPort(m_tunnel))
        m_supervisor.tunnelOpening(*port, m_ssh->pid());
}

void ConnectionController::restart(TunnelAction action) {
    // The supervisor may have moved on since this was asked for (the network went, say).
    const bool start = (action == TunnelAction::Restart || action == TunnelAction::Start) &&
                       m_supervisor.phase() == TunnelPhase::Restarting;
    stopSsh([this, start] {
        if (start) {
            const QString error = launchSsh();
            if (error.isEmpty())
                m_supervisor.sshRestarted(m_ssh->pid());
            else
                reportFailure(error);
        }
        finishJob();
    });
}

void ConnectionController::askSshToEnd() {
    if (m_ssh && !m_ssh->hasExited()) {
        m_ssh->terminate();
        m_killTimer.start(sshTerminationGrace); // then it is killed
    }
}

void ConnectionController::stopSsh(std::function<void()> then) {
    askSshToEnd();
    awaitSshEnd(std::move(then));
}

void ConnectionController::tearDown(std::function<void()> then) {
    m_supervisor.tunnelDown();
    askSshToEnd();
    auto finish = [this, then = std::move(then)](bool switchedOff) {
        awaitSshEnd([this, then, switchedOff] {
            switchedOff ? clearRecord() : keepRecordForRetry();
            m_switchedService.clear();
            setConnected(false);
            then();
        });
    };
    if (m_switchedService.isEmpty()) {
        finish(true);
        return;
    }
    TunnelSettings switched = m_tunnel;
    switched.networkService = m_switchedService;
    runCommand(proxyOffCommand(switched), finish);
}

void ConnectionController::awaitSshEnd(std::function<void()> then) {
    auto ended = [this, then = std::move(then)] {
        m_killTimer.stop();
        then();
    };
    if (!m_ssh || m_ssh->hasExited())
        ended();
    else
        QObject::connect(m_ssh.get(), &ShellProcess::exited, this, std::move(ended),
                         Qt::SingleShotConnection);
}

void ConnectionController::runCommand(const QString &commandLine, std::function<void(bool)> then) {
    runTimedCommand(commandLine, m_commandDeadline, this,
                    [this, then = std::move(then)](const CommandOutcome &outcome) {
                        if (!outcome.succeeded())
                            m_failures.append(outcome);
                        then(outcome.succeeded());
                    });
}

void ConnectionController::watchSsh() {
    m_failureQueued = false;
    m_monitor = std::make_unique<SshMonitor>(*m_ssh);
    QObject::connect(m_monitor.get(), &SshMonitor::ended, this, &ConnectionController::failTunnel);
}

void ConnectionController::setConnected(bool connected) {
    m_connected = connected;
    emit connectedChanged(connected);
}

void ConnectionController::reportCommandFailures() {
    if (!m_failures.isEmpty())
        emit proxyCommandsFailed(m_failures);
    m_failures.clear();
}

void ConnectionController::writeRecord() {
    TunnelRecord record{m_switchedService,   !m_switchedService.isEmpty(),
                        m_tunnel.port,       m_tunnel.username,
                        m_tunnel.server,     std::nullopt,
                        m_tunnel.privateKey, m_tunnel.privateKeyFile};
    if (m_ssh && m_ssh->wasLaunched() && !m_ssh->hasExited())
        record.ssh = identifyProcess(m_ssh->pid());
    QString error;
    if (!m_recordFile.save(record, error))
        emit notice(tr("Zentrel VPN cannot keep track of the tunnel: %1 If Zentrel VPN stops "
                       "unexpectedly, it cannot put your proxy settings back by itself.")
                        .arg(error));
}

void ConnectionController::keepRecordForRetry() {
    writeRecord(); // ssh has ended: the record names none, so it is switched off, not adopted
    emit notice(tr("Your proxy is still switched on for %1, pointing at a tunnel that is no "
                   "longer there. Zentrel VPN tries again to switch it off when it next starts "
                   "and at your next login; until then, switch it off in your system settings "
                   "if pages do not load.")
                    .arg(m_switchedService));
}

void ConnectionController::clearRecord() {
    QString error;
    if (!m_recordFile.clear(error))
        emit notice(error);
}
