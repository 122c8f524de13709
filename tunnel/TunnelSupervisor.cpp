#include "TunnelSupervisor.h"

#include <QCoreApplication>

namespace {
std::chrono::milliseconds fromEnvironment(const char *name, std::chrono::milliseconds fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? std::chrono::milliseconds(value) : fallback;
}
// Tries in a row without the tunnel staying up until the next look at it; then it is reported.
constexpr int maximumTries = 5;
} // namespace

TunnelStep nextTunnelStep(TunnelPhase phase, TunnelEvent event, bool networkUp, bool retriesLeft) {
    using A = TunnelAction;
    using P = TunnelPhase;
    const TunnelStep stay{A::None, phase};
    // A port that another program holds would take the user's traffic: never go on with it.
    if (event == TunnelEvent::PortTaken)
        return phase == P::Waiting ? stay : TunnelStep{A::Fail, phase};
    // Until the first ssh of a connect holds its port, it either comes up or fails.
    if (phase == P::Opening) {
        switch (event) {
        case TunnelEvent::SshFailed:
        case TunnelEvent::StartTimedOut:
            return {A::Fail, phase};
        case TunnelEvent::PortOpened:
            return {A::None, P::Up};
        default:
            return stay;
        }
    }
    const TunnelStep startWhenPossible =
        networkUp ? TunnelStep{A::Start, P::Restarting} : TunnelStep{A::None, P::Waiting};
    switch (event) {
    case TunnelEvent::Suspicious:
    case TunnelEvent::NetworkReturned:
        if (phase == P::Waiting)
            return startWhenPossible;
        return networkUp ? TunnelStep{A::Restart, P::Restarting} : TunnelStep{A::Stop, P::Waiting};
    case TunnelEvent::NetworkLost:
        return phase == P::Waiting ? stay : TunnelStep{A::Stop, P::Waiting};
    case TunnelEvent::SshFailed:
        if (phase == P::Waiting)
            return stay;
        if (!networkUp)
            return {A::Stop, P::Waiting}; // no error yet without a network
        // A tunnel that was up (its server stopped answering, say) is tried again after a
        // pause; an ssh that cannot even come back is reported.
        if (phase == P::Up && retriesLeft)
            return {A::StopAndRetryLater, P::Waiting};
        return {A::Fail, phase};
    case TunnelEvent::PortOpened:
        return phase == P::Restarting ? TunnelStep{A::None, P::Up} : stay;
    case TunnelEvent::StartTimedOut:
        return phase == P::Restarting ? TunnelStep{A::StopAndRetryLater, P::Waiting} : stay;
    case TunnelEvent::RetryDue:
        return phase == P::Waiting ? startWhenPossible : stay;
    case TunnelEvent::WaitedTooLong:
        return networkUp ? stay : TunnelStep{A::Fail, phase};
    case TunnelEvent::PortTaken:
        break;
    }
    return stay;
}

std::chrono::milliseconds retryPause(int attempt, std::chrono::milliseconds longest) {
    const std::chrono::milliseconds pause{1000LL << qBound(0, attempt, 15)};
    return std::min(pause, longest);
}

TunnelSupervisor::Timing TunnelSupervisor::timingFromEnvironment() {
    Timing timing;
    timing.probeInterval = fromEnvironment("ZENTREL_PROBE_INTERVAL_MS", timing.probeInterval);
    timing.startDeadline = fromEnvironment("ZENTREL_START_DEADLINE_MS", timing.startDeadline);
    timing.networkWaitLimit =
        fromEnvironment("ZENTREL_NETWORK_WAIT_LIMIT_MS", timing.networkWaitLimit);
    return timing;
}

int TunnelSupervisor::serverAliveSeconds() const {
    return qMax(1, int(m_timing.probeInterval.count() / 3000));
}

TunnelSupervisor::TunnelSupervisor(Timing timing, QObject *parent)
    : QObject(parent), m_timing(timing) {
    for (QTimer *timer : {&m_startTimer, &m_retryTimer, &m_absenceTimer})
        timer->setSingleShot(true);
    QObject::connect(&m_probeTimer, &QTimer::timeout, this, &TunnelSupervisor::checkPort);
    QObject::connect(&m_portWatch, &PortWatch::ours, this,
                     [this] { handle(TunnelEvent::PortOpened); });
    QObject::connect(&m_portWatch, &PortWatch::taken, this, &TunnelSupervisor::portTaken);
    QObject::connect(&m_startTimer, &QTimer::timeout, this, [this] {
        if (m_startStillBusy && m_startStillBusy())
            m_startTimer.start(m_timing.startDeadline);
        else
            handle(TunnelEvent::StartTimedOut,
                   withSshOutput(tr("ssh did not open the SOCKS port %1 within %2 seconds.")
                                     .arg(m_port)
                                     .arg(m_timing.startDeadline.count() / 1000)));
    });
    QObject::connect(&m_retryTimer, &QTimer::timeout, this,
                     [this] { handle(TunnelEvent::RetryDue); });
    QObject::connect(&m_absenceTimer, &QTimer::timeout, this, [this] {
        handle(TunnelEvent::WaitedTooLong,
               tr("The network has been gone for too long, so the tunnel was closed. Connect "
                  "again once you are back online."));
    });
}

void TunnelSupervisor::tunnelOpening(quint16 port, pid_t ssh) {
    m_supervising = true;
    m_port = port;
    m_ssh = ssh;
    m_phase = TunnelPhase::Opening;
    m_attempt = 0;
    m_startTimer.start(m_timing.startDeadline);
    m_portWatch.start(port, ssh);
}

void TunnelSupervisor::sshRestarted(pid_t ssh) {
    m_ssh = ssh;
    m_startTimer.start(m_timing.startDeadline);
    m_portWatch.start(m_port, ssh);
}

void TunnelSupervisor::tunnelDown() {
    const bool wasReconnecting = isReconnecting();
    m_supervising = false;
    m_phase = TunnelPhase::Opening;
    for (QTimer *timer : {&m_probeTimer, &m_startTimer, &m_retryTimer, &m_absenceTimer})
        timer->stop();
    m_portWatch.cancel();
    m_health = Health{};
    if (wasReconnecting)
        emit reconnectingChanged(false);
    emit phaseChanged();
}

void TunnelSupervisor::setNetworkUp(bool up) {
    m_networkUp = up;
    if (up)
        m_absenceTimer.stop();
    else if (m_supervising && m_phase != TunnelPhase::Opening && !m_absenceTimer.isActive())
        m_absenceTimer.start(m_timing.networkWaitLimit);
}

void TunnelSupervisor::networkLost() {
    setNetworkUp(false);
    handle(TunnelEvent::NetworkLost);
}

void TunnelSupervisor::networkReturned() {
    setNetworkUp(true);
    handle(TunnelEvent::NetworkReturned);
}

void TunnelSupervisor::networkChanged() {
    handle(TunnelEvent::Suspicious);
}

void TunnelSupervisor::resumed() {
    handle(TunnelEvent::Suspicious);
}

void TunnelSupervisor::sshFailed(const QString &message) {
    handle(TunnelEvent::SshFailed, message);
}

void TunnelSupervisor::handle(TunnelEvent event, const QString &message) {
    if (!m_supervising)
        return;
    const TunnelStep step = nextTunnelStep(m_phase, event, m_networkUp, m_attempt < maximumTries);
    enterPhase(step.next);
    switch (step.action) {
    case TunnelAction::None:
        break;
    case TunnelAction::Fail:
        m_supervising = false; // the owner takes the tunnel down now
        emit failed(message);
        break;
    case TunnelAction::StopAndRetryLater:
        m_retryTimer.start(retryPause(m_attempt++, m_timing.longestPause));
        emit actionNeeded(TunnelAction::Stop);
        break;
    default:
        if (step.action == TunnelAction::Start || step.action == TunnelAction::Restart) {
            ++m_health.tries;
            emit healthChanged();
        }
        emit actionNeeded(step.action);
        break;
    }
}

void TunnelSupervisor::enterPhase(TunnelPhase phase) {
    const bool wasReconnecting = isReconnecting();
    const TunnelPhase before = m_phase;
    m_phase = phase;
    if (phase == TunnelPhase::Up && before != TunnelPhase::Up) {
        m_health = Health{QDateTime::currentDateTime(), m_health.roundTripMs, {}, 0};
    } else if (isReconnecting() && !wasReconnecting) {
        m_health = Health{{}, std::nullopt, QDateTime::currentDateTime(), 0};
    }
    if (phase == TunnelPhase::Up) {
        m_startTimer.stop();
        m_retryTimer.stop();
        m_portWatch.cancel();
        lookAtTunnel();
        if (!m_probeTimer.isActive())
            m_probeTimer.start(m_timing.probeInterval);
        if (!m_networkUp && !m_absenceTimer.isActive())
            m_absenceTimer.start(m_timing.networkWaitLimit);
    } else if (phase != TunnelPhase::Opening) {
        m_probeTimer.stop();
        if (phase == TunnelPhase::Waiting) {
            m_startTimer.stop();
            m_portWatch.cancel();
        }
    }
    if (wasReconnecting != isReconnecting())
        emit reconnectingChanged(isReconnecting());
    if (phase != before)
        emit phaseChanged();
}

void TunnelSupervisor::checkPort() {
    const std::optional<PortHolder> holder = lookAtTunnel();
    if (!holder)
        return; // nothing to tell from here; ssh itself notices a server that is gone
    switch (*holder) {
    case PortHolder::Us:
        m_attempt = 0; // up since the last look: a later failure starts a fresh series of tries
        break;
    case PortHolder::Other:
        portTaken();
        break;
    case PortHolder::Nobody:
        handle(TunnelEvent::Suspicious);
        break;
    }
}

void TunnelSupervisor::portTaken() {
    handle(TunnelEvent::PortTaken, withSshOutput(portInUseText(m_port)));
}

QString TunnelSupervisor::portInUseText(qint64 port) {
    return tr("Port %1 on this computer is in use by another program, so the tunnel cannot "
              "take your traffic there, and your proxy is left switched off. Quit the other "
              "program or choose another port in the preferences window, then connect again.")
        .arg(port);
}

std::optional<PortHolder> TunnelSupervisor::lookAtTunnel() {
    const std::optional<QList<TcpSocket>> sockets = readTcpSockets();
    if (!sockets)
        return std::nullopt;
    const QSet<quint64> ours = socketInodesOf(m_ssh);
    const std::optional<TcpSocket> server = serverConnectionOf(*sockets, ours, m_port);
    if (server && server->remoteAddress != m_serverAddress) {
        m_serverAddress = server->remoteAddress;
        emit serverAddressChanged(m_serverAddress);
    }
    const std::optional<int> roundTrip =
        server && server->roundTripMicroseconds
            ? std::optional<int>(int((*server->roundTripMicroseconds + 500) / 1000))
            : std::nullopt;
    m_health.roundTripMs = roundTrip;
    emit healthChanged();
    return portHolder(*sockets, m_port, ours);
}

QString TunnelSupervisor::withSshOutput(const QString &reason) const {
    const QString said = m_sshOutput ? m_sshOutput() : QString();
    if (said.isEmpty())
        return reason;
    return reason + QStringLiteral("\n\n") + tr("ssh said:") + QLatin1Char('\n') + said;
}
