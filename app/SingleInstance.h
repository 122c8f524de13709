#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

// Keeps to one running application per user: two would fight over the same proxy. The first
// start holds a lock for its whole life and listens; a later start asks it to show itself.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `name` tells applications apart; the lock and the socket live in the user's runtime
    // directory, which no other user can enter.
    explicit SingleInstance(const QString &name = QStringLiteral("zentrel-vpn"),
                            QObject *parent = nullptr);

    // True when this process is now the one instance; it then listens for later starts.
    bool becomePrimary();
    // Tells the running instance that someone started the application again. Returns whether
    // it got the message.
    bool activatePrimary();

signals:
    void activationRequested();

private:
    QString m_socketName;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
