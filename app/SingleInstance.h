#pragma once

#include <QObject>
#include <QString>

#include <memory>

class ActivationServer;
class QLockFile;

// Keeps to one running application per user: two would fight over the same proxy. The first
// start holds a lock for its whole life and listens; a later start asks it to show itself.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Start {
        Primary,        // this process is now the one instance and listens for later starts
        AlreadyRunning, // another process is
        Impossible,     // see error()
    };

    // `name` tells applications apart.
    explicit SingleInstance(const QString &name = QStringLiteral("zentrel-vpn"),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // The lock and the socket live in the session's runtime folder, or where there is none of
    // ours, in a private folder under the user's cache; never where others can write.
    Start becomePrimary();
    // Why the application cannot start, in a sentence or two.
    QString error() const { return m_error; }
    // Tells the running instance that someone started the application again. Returns whether
    // it got the message.
    bool activatePrimary();

signals:
    void activationRequested();

private:
    QString socketPath() const;

    QString m_name;
    QString m_folder;
    QString m_error;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<ActivationServer> m_server;
};
