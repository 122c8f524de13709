#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <list>
#include <memory>

class QSocketNotifier;

// Listens on a local socket for later starts of the application, each of which sends one line.
// Any process of the user can connect, so no client may cost us for long: each is closed after
// its first line or after a short while, only a few are kept at once (the oldest goes when
// another comes), and running out of descriptors only pauses listening. Should the listening
// socket itself fail, it listens anew.
class ActivationServer : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds clientTimeout{2000};
    static constexpr int clientLimit = 16;

    explicit ActivationServer(QString path, QObject *parent = nullptr);
    // Closes every connection and removes the socket.
    ~ActivationServer() override;

    // Replaces whatever socket was left at the path. False, with `error` saying why, when the
    // socket cannot be made.
    bool listen(QString &error);

    // What a later start does: sends `line` to the socket at `path`. False when nobody listens
    // or takes it in time.
    static bool sendLine(const QString &path, const QByteArray &line);

signals:
    // A client sent `line` (without its line feed).
    void lineReceived(const QByteArray &line);

private:
    struct Client;

    void acceptClients();
    void read(Client &client);
    void close(const Client &client);
    void closeExpired();
    void stopListening();

    QString m_path;
    int m_socket = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::list<std::unique_ptr<Client>> m_clients; // oldest first
    QTimer m_expiry;
    QTimer m_retry;
};
