#include "PortWatch.h"
#include "ShellProcess.h"
#include "TestEnvironment.h"
#include "TunnelSupervisor.h"

#include <QSignalSpy>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
QByteArray v4(const char *text) {
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return QByteArray(reinterpret_cast<const char *>(&address), 4);
}

QByteArray v6(const char *text) {
    in6_addr address{};
    inet_pton(AF_INET6, text, &address);
    return QByteArray(reinterpret_cast<const char *>(&address), 16);
}

TcpSocket listener(const QByteArray &address, quint16 port, quint64 inode) {
    return TcpSocket{true, address, port, {}, 0, inode, {}};
}
} // namespace

// Who holds the port, and what the supervisor makes of each event: the decisions that keep the
// tray from calling another program's listener our tunnel.
class TunnelChecksTest : public QObject {
    Q_OBJECT

public:
    explicit TunnelChecksTest(TestEnvironment &) {}

private slots:
    void portHolders() {
        const QSet<quint64> ours{1, 2};
        const auto holder = [&](QList<TcpSocket> sockets) {
            return portHolder(sockets, 6969, ours);
        };
        const TcpSocket ourV4 = listener(v4("127.0.0.1"), 6969, 1);
        const TcpSocket ourV6 = listener(v6("::1"), 6969, 2);
        QCOMPARE(holder({}), PortHolder::Nobody);
        QCOMPARE(holder({ourV4, ourV6}), PortHolder::Us);
        QCOMPARE(holder({ourV4}), PortHolder::Us); // a machine without IPv6
        // Another program on any address where "localhost" arrives, even beside ours.
        for (const QByteArray &address :
             {v6("::1"), v4("0.0.0.0"), v6("::"), v6("::ffff:127.0.0.1"), v4("127.0.0.1")})
            QCOMPARE(holder({ourV4, listener(address, 6969, 9)}), PortHolder::Other);
        // Not where localhost arrives, another port, or a connection rather than a listener.
        TcpSocket client = listener(v4("127.0.0.1"), 6969, 9);
        client.listening = false;
        QCOMPARE(holder({ourV4, listener(v4("10.0.0.5"), 6969, 9), listener(v6("::1"), 6970, 9),
                         client}),
                 PortHolder::Us);
        // ssh's own connection is the one that is no client of its SOCKS port.
        TcpSocket ourClient{false, v4("127.0.0.1"), 6969, v4("127.0.0.1"), 50000, 1, {}};
        TcpSocket toServer{false, v4("10.0.0.5"), 40000, v4("198.51.100.7"), 22, 2, {}};
        QCOMPARE(serverConnectionOf({ourClient, toServer}, ours, 6969)->remoteAddress,
                 v4("198.51.100.7"));
    }

    void aListenerIsFoundWhereverItIs() {
        // Ours: this process listens on 127.0.0.1; then another program on ::1 of that port.
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
                listen(fd, 1) == 0);
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
        const quint16 port = ntohs(address.sin_port);
        QCOMPARE(PortWatch::look(port, getpid()), std::optional(PortHolder::Us));
        QCOMPARE(PortWatch::look(port, getppid()), std::optional(PortHolder::Other));

        auto other = runShellCommand(
            QStringLiteral("exec python3 -c 'import socket,time; s=socket.socket(socket.AF_INET6);"
                           "s.bind((\"::1\", %1)); s.listen(); print(\"up\", flush=True); "
                           "time.sleep(60)'")
                .arg(port));
        QSignalSpy said(other.get(), &ShellProcess::outputReceived);
        QVERIFY(said.wait(10000));
        PortWatch watch;
        QSignalSpy taken(&watch, &PortWatch::taken);
        QSignalSpy ours(&watch, &PortWatch::ours);
        watch.start(port, getpid());
        QTRY_COMPARE(taken.count(), 1);
        other->kill();
        other->waitForExit();
        watch.start(port, getpid());
        QTRY_COMPARE(ours.count(), 1);
        close(fd);
    }

    void supervisorDecisions() {
        using A = TunnelAction;
        using E = TunnelEvent;
        using P = TunnelPhase;
        struct Row {
            P phase;
            E event;
            bool networkUp, retriesLeft;
            TunnelStep step;
        };
        // What ssh writes is no event at all: only what it does counts.
        const QList<Row> rows = {
            {P::Opening, E::PortOpened, true, true, {A::None, P::Up}},
            {P::Opening, E::SshFailed, true, true, {A::Fail, P::Opening}},
            {P::Opening, E::StartTimedOut, false, true, {A::Fail, P::Opening}},
            {P::Opening, E::PortTaken, true, true, {A::Fail, P::Opening}},
            {P::Opening, E::Suspicious, true, true, {A::None, P::Opening}},
            {P::Up, E::PortTaken, true, true, {A::Fail, P::Up}},
            {P::Restarting, E::PortTaken, true, true, {A::Fail, P::Restarting}},
            {P::Waiting, E::PortTaken, true, true, {A::None, P::Waiting}},
            {P::Up, E::SshFailed, true, true, {A::StopAndRetryLater, P::Waiting}},
            {P::Up, E::SshFailed, true, false, {A::Fail, P::Up}},
            {P::Up, E::SshFailed, false, true, {A::Stop, P::Waiting}},
            {P::Restarting, E::SshFailed, true, true, {A::Fail, P::Restarting}},
            {P::Restarting, E::StartTimedOut, true, true, {A::StopAndRetryLater, P::Waiting}},
            {P::Restarting, E::PortOpened, true, true, {A::None, P::Up}},
            {P::Up, E::Suspicious, true, true, {A::Restart, P::Restarting}},
            {P::Up, E::NetworkLost, false, true, {A::Stop, P::Waiting}},
            {P::Waiting, E::NetworkReturned, true, true, {A::Start, P::Restarting}},
            {P::Waiting, E::RetryDue, false, true, {A::None, P::Waiting}},
            {P::Waiting, E::WaitedTooLong, false, true, {A::Fail, P::Waiting}},
            {P::Waiting, E::WaitedTooLong, true, true, {A::None, P::Waiting}},
        };
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const Row &row = rows[i];
            QVERIFY2(nextTunnelStep(row.phase, row.event, row.networkUp, row.retriesLeft) ==
                         row.step,
                     qPrintable(QStringLiteral("row %1").arg(i)));
        }
    }
};

ZENTREL_TEST_MAIN(TunnelChecksTest, QCoreApplication)
#include "tst_tunnelchecks.moc"
