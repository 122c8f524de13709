#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class ActivationServer;

// Keeps to one running application per user: two would fight over the same proxy and the same
// tunnel record. The first start holds a lock for its whole life and listens; a later start asks
// it to show itself.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Start {
        Primary,        // this process is now the one instance and listens for later starts
        AlreadyRunning, // another process is
        Impossible,     // see error()
    };
    enum class Hold {
        Held,           // no instance runs, and none can take over until this object is gone
        PrimaryRunning, // an instance runs: what it owns is its own business
        Impossible,     // see error()
    };

    // `name` tells applications apart.
    explicit SingleInstance(const QString &name = QStringLiteral("zentrel-vpn"),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // Where the lock and the socket live: ~/.local/state/zentrel-vpn, with the home taken from
    // the password database, so that every start of the user's finds the same lock whatever
    // its environment.
    static QString defaultFolder();

    Start becomePrimary();
    // For work on what a running instance owns, done without becoming one (the login check).
    // A primary that starts while this is held waits, before it takes anything over.
    Hold holdOffPrimary();
    // Why the application cannot start, in a sentence or two.
    QString error() const { return m_error; }
    // Tells the running instance that someone started the application again. Returns whether
    // it got the message.
    bool activatePrimary();

    // Whether an instance runs, without taking or waiting for anything.
    bool primaryRunning();
    // A request from the command line, of the running instance: `line` is answered with
    // answer(id, …), unless requestDropped(id) says its asker is gone.
    void answer(quint64 id, const QByteArray &text);
    // Sends a request to the running instance and waits for its answer; nullopt when none
    // runs or it does not answer in time.
    std::optional<QByteArray> askPrimary(const QByteArray &line,
                                         std::chrono::milliseconds timeout) const;

signals:
    void activationRequested();
    void requestReceived(const QByteArray &line, quint64 id);
    void requestDropped(quint64 id);

private:
    bool openLock();
    QString socketPath() const;

    QString m_name;
    QString m_folder;
    QString m_error;
    int m_lock = -1;
    std::unique_ptr<ActivationServer> m_server;
};
