#pragma once

#include "CommandLines.h"
#include "TimedCommand.h"
#include "TunnelRecord.h"
#include "TunnelSupervisor.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

class ShellProcess;
class SshMonitor;

// What can be asked of the connection. Each is carried out after the one before it has ended.
enum class ConnectionJob {
    Recover,    // at launch: take over or clean up what an earlier run left
    Connect,    // the user's Connect
    Disconnect, // the user's Disconnect
    Fail,       // ssh reported a failure: disconnect, then report it
    Restart,    // keep the tunnel: end ssh and/or start it again, the proxy staying on
    Quit,       // disconnect when connected, then let the application end
};

// Whether a job still applies when its turn comes: Connect while connected, for instance, or
// anything after Quit, no longer does.
bool connectionJobApplies(ConnectionJob job, bool connected, bool quitting);

// Brings the tunnel up and down: runs the proxy commands and ssh in order without ever holding
// up the event loop, never lets two connects or disconnects interleave, keeps at most one ssh
// of ours alive, and keeps a record on disk of what it changed so that a later run can take
// over or undo it.
class ConnectionController : public QObject {
    Q_OBJECT

public:
    using SettingsSource = std::function<TunnelSettings()>;

    // `settings` is asked for the settings at the moment a connect starts.
    ConnectionController(SettingsSource settings, TunnelRecordFile recordFile,
                         QObject *parent = nullptr);
    // A running ssh is deliberately left alone: the record lets the next run take it over.
    ~ConnectionController() override;

    void recoverEarlierRun();
    void requestConnect();
    void requestDisconnect();
    // In turn, like the others; an urgent quit (a signal, the end of the session) goes first
    // and does not wait for a failure report to be read.
    enum class QuitUrgency { InTurn, Urgent };
    void requestQuit(QuitUrgency urgency = QuitUrgency::InTurn);
    // ssh said the tunnel failed. Whether that ends the tunnel (disconnect, then report
    // `message` through tunnelFailed()) or only calls for a new ssh is the supervisor's choice.
    void failTunnel(const QString &message);
    // The failure report has been read: what was asked meanwhile is carried out now.
    void failureAcknowledged();

    bool isConnected() const { return m_connected; }
    // Nothing running and nothing waiting.
    bool isIdle() const { return !m_busy && m_jobs.empty(); }
    ShellProcess *sshProcess() const { return m_ssh.get(); }
    // The settings of the tunnel that is up (for one taken over, those of the earlier run).
    const TunnelSettings &tunnel() const { return m_tunnel; }
    // Hears what happens to the network and the machine, and keeps the tunnel up through it.
    TunnelSupervisor &supervisor() { return m_supervisor; }
    const TunnelSupervisor &supervisor() const { return m_supervisor; }
    bool isReconnecting() const { return m_connected && m_supervisor.isReconnecting(); }
    // Connected, and our ssh holds the port: the tunnel takes the traffic.
    bool isUp() const {
        return m_connected && m_supervisor.isSupervising() &&
               m_supervisor.phase() == TunnelPhase::Up;
    }
    // What the tray and the command line tell of the tunnel.
    enum class State { NotConnected, Connecting, Up, Reconnecting };
    State state() const {
        return !m_connected       ? State::NotConnected
               : isReconnecting() ? State::Reconnecting
               : isUp()           ? State::Up
                                  : State::Connecting;
    }

    // NAME=VALUE entries that ssh gets on top of our environment.
    void setSshEnvironment(const QStringList &environment);
    // How long a proxy command may take before it is stopped and counted as failed.
    void setCommandDeadline(std::chrono::milliseconds deadline) { m_commandDeadline = deadline; }

signals:
    void connectedChanged(bool connected);
    // While true the tunnel is down for a moment and being brought back; the proxy stays on.
    void reconnectingChanged(bool reconnecting);
    // The tunnel came up, or stopped being up.
    void upChanged();
    // The tunnel is down because of `message`; jobs wait until failureAcknowledged().
    void tunnelFailed(const QString &message);
    // Every proxy command of one connect, disconnect or launch clean-up that did not succeed.
    void proxyCommandsFailed(const QList<CommandOutcome> &failures);
    // Something the user should know that is not an error of theirs.
    void notice(const QString &text);
    // The quit asked for has done its part: the application may end.
    void quitReady();

private:
    struct Job {
        ConnectionJob kind;
        QString message;
        TunnelAction action = TunnelAction::None; // for Restart
    };

    void enqueue(Job job, bool first = false);
    void runNext();
    void finishJob();
    void finishWithFailure(const QString &message);

    void recover();
    void connectTunnel();
    void startSsh();
    // Starts ssh for the tunnel; the reason when it could not be started.
    QString launchSsh();
    void superviseTunnel();
    void restart(TunnelAction action);
    void askSshToEnd();
    void stopSsh(std::function<void()> then);
    void reportFailure(const QString &message);
    // The disconnect steps: stop ssh, switch the proxy off, wait for ssh's end.
    void tearDown(std::function<void()> then);
    // Runs `then` once ssh has ended (at once when none runs); no kill is due after that.
    void awaitSshEnd(std::function<void()> then);
    void runCommand(const QString &commandLine, std::function<void(bool succeeded)> then);
    void watchSsh();
    void setConnected(bool connected);
    void reportCommandFailures();
    void writeRecord();
    void clearRecord();
    // Once switching the proxy off has failed, the record stays, without ssh, so that the next
    // launch or login switches it off.
    void keepRecordForRetry();

    SettingsSource m_settings;
    TunnelRecordFile m_recordFile;
    QStringList m_sshEnvironment;
    QString m_askPassProgram; // from SSH_ASKPASS in m_sshEnvironment
    std::chrono::milliseconds m_commandDeadline;

    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_awaitingAcknowledgement = false;
    bool m_quitting = false;

    bool m_connected = false;
    TunnelSettings m_tunnel;
    QString m_switchedService; // whose proxy is switched on, "" when none
    std::unique_ptr<ShellProcess> m_ssh;
    std::unique_ptr<SshMonitor> m_monitor;
    bool m_failureQueued = false;
    QTimer m_killTimer;
    QList<CommandOutcome> m_failures;
    TunnelSupervisor m_supervisor;
};
