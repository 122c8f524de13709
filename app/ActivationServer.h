#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <list>
#include <memory>
#include <optional>

class QSocketNotifier;

// Listens on a local socket for later starts of the application and for commands from the
// command line, each of which sends one line and may wait for one line back. Only the user's
// own processes are heard. None may cost us for long: a client that has not sent its line
// within a short while is closed, only a few are kept at once (the oldest goes when another
// comes), one that waits for an answer is dropped when it hangs up or after a long while, and
// running out of descriptors only pauses listening. Should the listening socket itself fail,
// it listens anew.
class ActivationServer : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds clientTimeout{2000};
    static constexpr std::chrono::milliseconds answerTimeout{600000};
    static constexpr int clientLimit = 16;

    explicit ActivationServer(QString path, QObject *parent = nullptr);
    // Closes every connection and removes the socket.
    ~ActivationServer() override;

    // Replaces whatever socket was left at the path. False, with `error` saying why, when the
    // socket cannot be made.
    bool listen(QString &error);

    // Sends `text` and a line feed to the client that sent request `id`, then closes it.
    // Nothing happens when that client is gone.
    void answer(quint64 id, const QByteArray &text);

    // What a later start or a command does: sends `line` to the socket at `path` and, unless
    // told not to wait for one, reads one line back, within `timeout`; nullopt when nobody
    // listens or the answer does not come in time.
    enum class Answer { Awaited, NotAwaited };
    static std::optional<QByteArray> request(const QString &path, const QByteArray &line,
                                             std::chrono::milliseconds timeout,
                                             Answer answered = Answer::Awaited);

signals:
    // A client sent `line` (without its line feed) and waits for answer(id, …).
    void lineReceived(const QByteArray &line, quint64 id);
    // The client of request `id` hung up or waited too long: no answer goes anywhere.
    void requestDropped(quint64 id);

private:
    struct Client;

    void acceptClients();
    void read(Client &client);
    void close(const Client &client);
    // Closes the client, and tells when it was waiting for an answer.
    void drop(const Client &client);
    void closeExpired();
    void scheduleExpiry();
    static bool fromThisUser(int descriptor);
    void stopListening();

    QString m_path;
    int m_socket = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::list<std::unique_ptr<Client>> m_clients; // oldest first
    quint64 m_lastId = 0;
    QTimer m_expiry;
    QTimer m_retry;
};
