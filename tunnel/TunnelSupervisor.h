#pragma once

#include "PortWatch.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

// Where a connected tunnel stands.
enum class TunnelPhase {
    Opening,    // the first ssh of a connect does not hold its port yet: it fails as ever
    Up,         // ssh runs and (as far as we know) carries traffic
    Restarting, // a new ssh has been started and does not hold its port yet
    Waiting,    // no ssh: waiting for the network to return or for the next try
};

enum class TunnelEvent {
    Suspicious,      // resumed from sleep, the way out changed, or ssh's listener is gone
    NetworkLost,     // no route to the server any more
    NetworkReturned, // a route to the server again
    SshFailed,       // ssh ended by itself
    PortOpened,      // our ssh listens on the SOCKS port, and nobody else does
    PortTaken,       // another program listens on the SOCKS port
    StartTimedOut,   // the ssh did not open its port in time
    RetryDue,        // the pause before the next try is over
    WaitedTooLong,   // the network has stayed away too long
};

enum class TunnelAction {
    None,
    Restart,           // end ssh (it is ours: no report), start it again at once
    Stop,              // end ssh, start nothing yet
    Start,             // start ssh (none runs)
    StopAndRetryLater, // end ssh, start it again after a pause that grows with each try
    Fail,              // give up: disconnect and report
};

struct TunnelStep {
    TunnelAction action;
    TunnelPhase next;

    bool operator==(const TunnelStep &other) const {
        return action == other.action && next == other.next;
    }
};

// The one place where a connected tunnel's fate is decided. `retriesLeft` is false once a
// tunnel has been brought back several times in a row without staying up.
TunnelStep nextTunnelStep(TunnelPhase phase, TunnelEvent event, bool networkUp,
                          bool retriesLeft = true);

// The pause before try `attempt` (0 for the first): 1, 2, 4 … seconds, at most `longest`.
std::chrono::milliseconds retryPause(int attempt, std::chrono::milliseconds longest);

// Keeps a connected tunnel alive and honest: hears what happens to the network, the machine and
// ssh, checks now and then that the port is still our ssh's alone (ssh itself notices a server
// that stops answering), decides with nextTunnelStep(), and asks its owner to act. Owns timers
// and the port watch, never ssh itself.
class TunnelSupervisor : public QObject {
    Q_OBJECT

public:
    struct Timing {
        std::chrono::milliseconds probeInterval{30000};
        std::chrono::milliseconds startDeadline{20000};
        std::chrono::milliseconds networkWaitLimit{600000};
        std::chrono::milliseconds longestPause{30000};
    };
    // The defaults, with the test knobs ZENTREL_PROBE_INTERVAL_MS, ZENTREL_START_DEADLINE_MS
    // and ZENTREL_NETWORK_WAIT_LIMIT_MS applied.
    static Timing timingFromEnvironment();
    // What to tell when another program listens on the tunnel's port.
    static QString portInUseText(qint64 port);

    explicit TunnelSupervisor(Timing timing, QObject *parent = nullptr);

    // How often ssh is to ask the server whether it is there when it has heard nothing: a
    // third of the interval between two looks at the port.
    int serverAliveSeconds() const;

    // From the owner: the tunnel's life, and the ssh that is to hold the port.
    void tunnelOpening(quint16 port, pid_t ssh);
    void sshRestarted(pid_t ssh);
    void tunnelDown();
    bool isSupervising() const { return m_supervising; }
    TunnelPhase phase() const { return m_phase; }
    bool isReconnecting() const {
        return m_supervising &&
               (m_phase == TunnelPhase::Restarting || m_phase == TunnelPhase::Waiting);
    }

    // How the tunnel is doing, for the tooltip and the command line.
    struct Health {
        QDateTime upSince;              // while up: since when, this time
        std::optional<int> roundTripMs; // the kernel's last measure of ssh's connection
        QDateTime reconnectingSince;    // while reconnecting
        int tries = 0;                  // ssh started again since then
    };
    const Health &health() const { return m_health; }

    // From the watchers and ssh.
    void setNetworkUp(bool up);
    void networkLost();
    void networkReturned();
    void networkChanged();
    void resumed();
    void sshFailed(const QString &message);

    // Whether ssh's own child still waits for the user (a passphrase dialog): a start is not
    // timed out then.
    void setStartStillBusy(std::function<bool()> busy) { m_startStillBusy = std::move(busy); }
    // What ssh has said so far, for a report of a tunnel that did not come up.
    void setSshOutput(std::function<QString()> output) { m_sshOutput = std::move(output); }

signals:
    void actionNeeded(TunnelAction action);
    void failed(const QString &message);
    void reconnectingChanged(bool reconnecting);
    void phaseChanged();
    // health() changed: a new round-trip time, a new try.
    void healthChanged();
    // The address our ssh is connected to (4 or 16 bytes, network order), once it is known:
    // whether the network is there is a question of a route to it.
    void serverAddressChanged(const QByteArray &address);

private:
    void handle(TunnelEvent event, const QString &message = {});
    void enterPhase(TunnelPhase phase);
    void checkPort();
    void portTaken();
    // Who holds the port and how ssh's connection to the server is doing, in one look.
    std::optional<PortHolder> lookAtTunnel();
    QString withSshOutput(const QString &reason) const;

    Timing m_timing;
    bool m_supervising = false;
    bool m_networkUp = true;
    TunnelPhase m_phase = TunnelPhase::Opening;
    quint16 m_port = 0;
    pid_t m_ssh = 0;
    int m_attempt = 0; // tries since the tunnel was last found healthy
    QByteArray m_serverAddress;
    Health m_health;
    std::function<bool()> m_startStillBusy;
    std::function<QString()> m_sshOutput;
    QTimer m_probeTimer;
    QTimer m_startTimer;
    QTimer m_retryTimer;
    QTimer m_absenceTimer;
    PortWatch m_portWatch;
};
