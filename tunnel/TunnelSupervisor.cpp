#include "TunnelSupervisor.h"

#include <QCoreApplication>

namespace {
std::chrono::milliseconds fromEnvironment(const char *name, std::chrono::milliseconds fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? std::chrono::milliseconds(value) : fallback;
}
} // namespace

TunnelStep nextTunnelStep(TunnelPhase phase, TunnelEvent event, bool networkUp) {
    using A = TunnelAction;
    using P = TunnelPhase;
    const TunnelStep stay{A::None, phase};
    // Until the first ssh of a connect is through, nothing but its own end or success counts.
    if (phase == P::Opening) {
        if (event == TunnelEvent::SshFailed)
            return {A::Fail, phase};
        return event == TunnelEvent::PortOpened ? TunnelStep{A::None, P::Up} : stay;
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
        // Without a network an ended ssh is no error yet; with one, a tunnel that cannot be
        // kept up is reported as ever.
        return networkUp ? TunnelStep{A::Fail, phase} : TunnelStep{A::Stop, P::Waiting};
    case TunnelEvent::PortOpened:
        return phase == P::Restarting ? TunnelStep{A::None, P::Up} : stay;
    case TunnelEvent::StartTimedOut:
        return phase == P::Restarting ? TunnelStep{A::StopAndRetryLater, P::Waiting} : stay;
    case TunnelEvent::RetryDue:
        return phase == P::Waiting ? startWhenPossible : stay;
    case TunnelEvent::WaitedTooLong:
        return networkUp ? stay : TunnelStep{A::Fail, phase};
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
    timing.networkWaitLimit =
        fromEnvironment("ZENTREL_NETWORK_WAIT_LIMIT_MS", timing.networkWaitLimit);
    return timing;
}

TunnelSupervisor::TunnelSupervisor(Timing timing, QObject *parent)
    : QObject(parent), m_timing(timing) {
    for (QTimer *timer : {&m_startTimer, &m_retryTimer, &m_absenceTimer})
        timer->setSingleShot(true);
    QObject::connect(&m_probeTimer, &QTimer::timeout, this, [this] {
        if (!m_probe.isRunning())
            m_probe.start(m_port, m_timing.probeDeadline);
    });
    QObject::connect(&m_probe, &TunnelProbe::finished, this, [this](bool alive) {
        if (!alive)
            handle(TunnelEvent::Suspicious);
    });
    QObject::connect(&m_portWatch, &PortWatch::listening, this,
                     [this] { handle(TunnelEvent::PortOpened); });
    QObject::connect(&m_startTimer, &QTimer::timeout, this, [this] {
        if (m_startStillBusy && m_startStillBusy())
            m_startTimer.start(m_timing.startDeadline);
        else
            handle(TunnelEvent::StartTimedOut);
    });
    QObject::connect(&m_retryTimer, &QTimer::timeout, this,
                     [this] { handle(TunnelEvent::RetryDue); });
    QObject::connect(&m_absenceTimer, &QTimer::timeout, this, [this] {
        handle(TunnelEvent::WaitedTooLong,
               tr("The network has been gone for too long, so the tunnel was closed. Connect "
                  "again once you are back online."));
    });
}

void TunnelSupervisor::tunnelOpening(quint16 port) {
    m_supervising = true;
    m_port = port;
    m_phase = TunnelPhase::Opening;
    m_attempt = 0;
    m_portWatch.start(port);
}

void TunnelSupervisor::sshRestarted() {
    m_startTimer.start(m_timing.startDeadline);
    m_portWatch.start(m_port);
}

void TunnelSupervisor::tunnelDown() {
    const bool wasReconnecting = isReconnecting();
    m_supervising = false;
    m_phase = TunnelPhase::Opening;
    for (QTimer *timer : {&m_probeTimer, &m_startTimer, &m_retryTimer, &m_absenceTimer})
        timer->stop();
    m_probe.cancel();
    m_portWatch.cancel();
    if (wasReconnecting)
        emit reconnectingChanged(false);
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
    const TunnelStep step = nextTunnelStep(m_phase, event, m_networkUp);
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
        emit actionNeeded(step.action);
        break;
    }
}

void TunnelSupervisor::enterPhase(TunnelPhase phase) {
    const bool wasReconnecting = isReconnecting();
    m_phase = phase;
    if (phase == TunnelPhase::Up) {
        m_attempt = 0;
        m_startTimer.stop();
        m_retryTimer.stop();
        m_portWatch.cancel();
        if (!m_probeTimer.isActive())
            m_probeTimer.start(m_timing.probeInterval);
        if (!m_networkUp && !m_absenceTimer.isActive())
            m_absenceTimer.start(m_timing.networkWaitLimit);
    } else if (phase != TunnelPhase::Opening) {
        m_probeTimer.stop();
        m_probe.cancel();
        if (phase == TunnelPhase::Waiting) {
            m_startTimer.stop();
            m_portWatch.cancel();
        }
    }
    if (wasReconnecting != isReconnecting())
        emit reconnectingChanged(isReconnecting());
}
