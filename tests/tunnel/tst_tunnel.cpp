#include "CommandLines.h"
#include "PortWatch.h"
#include "ShellProcess.h"
#include "SshMonitor.h"
#include "TestEnvironment.h"
#include "TunnelRecord.h"
#include "TunnelSupervisor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// What every tunnel command carries, whatever ~/.ssh/config says.
const QStringList tunnelOptions = {"-o", "ControlPath=none",      "-o", "ExitOnForwardFailure=yes",
                                   "-o", "ServerAliveInterval=10"};

// Stand-ins that record each argument they get on a line of its own, NUL-terminated.
const QByteArray recordArguments =
    "for a in \"$@\"; do printf '%s\\0' \"$a\"; done >> \"$ARGV_LOG\"\n";

// An IPv4 or IPv6 address in network order, as the socket table holds it.
QByteArray ip(const char *text) {
    in6_addr address{};
    const int family = strchr(text, ':') ? AF_INET6 : AF_INET;
    inet_pton(family, text, &address);
    return QByteArray(reinterpret_cast<const char *>(&address), family == AF_INET6 ? 16 : 4);
}

TcpSocket listener(const QByteArray &address, quint16 port, quint64 inode) {
    return TcpSocket{true, address, port, {}, 0, inode, {}};
}
} // namespace

// The tunnel's command lines, what is shown of ssh's words, the record of what we started, who
// holds the port and what the supervisor makes of each event.
class TunnelTest : public QObject {
    Q_OBJECT

public:
    explicit TunnelTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void initTestCase() {
        m_environment.installTool(QStringLiteral("networksetup"), recordArguments);
        m_environment.installTool(QStringLiteral("ssh"), recordArguments);
        qputenv("ARGV_LOG", QFile::encodeName(m_environment.path(QStringLiteral("argv"))));
    }

    void keyOptionOnlyForACustomKeyWithAPathAndAlwaysOneWord() {
        // Only "default" means ssh's own keys; an empty path gives no -i either.
        TunnelSettings settings{"Wi-Fi", 6969, "demo", "198.51.100.7", {}, {}};
        using Row = std::tuple<QString, QString, QStringList>;
        for (const auto &[choice, path, key] :
             {Row{"Default", "/etc/ssh/id_rsa", {"-i", "/etc/ssh/id_rsa"}},
              Row{"default", "/etc/ssh/id_rsa", {}}, Row{"custom", "", {}},
              Row{"custom", "~/my keys/id *", {"-i", QDir::homePath() + "/my keys/id *"}},
              Row{"custom", "~other/id", {"-i", "~other/id"}}}) {
            settings.privateKey = choice;
            settings.privateKeyFile = path;
            QCOMPARE(runThroughBash(tunnelCommand(settings)).mid(tunnelOptions.size() + 2), key);
        }
    }

    // Whatever the fields hold reaches networksetup and ssh as the same words; a user name
    // that looks like an option stays a user name.
    void hostileValuesStayLiteralArguments() {
        const QString marker = m_environment.path(QStringLiteral("marker"));
        const QString touch = QStringLiteral("touch '%1'").arg(marker);
        for (const QString &value :
             {QStringLiteral("a\"; %1; echo \"").arg(touch), QStringLiteral("$(%1)").arg(touch),
              QStringLiteral("`%1`").arg(touch), QStringLiteral("back\\slash\\\" $HOME"),
              QStringLiteral("two\nlines; %1").arg(touch),
              QStringLiteral("it's '; %1; '").arg(touch),
              QStringLiteral("-oProxyCommand=%1").arg(touch)}) {
            const TunnelSettings settings{value, 6969, value, value, "custom", value};
            QCOMPARE(runThroughBash(proxyAddressCommand(settings)),
                     QStringList({"-setsocksfirewallproxy", value, "localhost", "6969"}));
            QCOMPARE(runThroughBash(proxyOnCommand(settings)),
                     QStringList({"-setsocksfirewallproxystate", value, "on"}));
            const QStringList ends = value.startsWith(QLatin1Char('-'))
                                         ? QStringList{"-i", value, "--", value + '@' + value}
                                         : QStringList{value + '@' + value, "-i", value};
            QCOMPARE(runThroughBash(tunnelCommand(settings)),
                     QStringList{"-NTCD6969"} + tunnelOptions + ends);
            QVERIFY2(!QFile::exists(marker), qPrintable(value));
        }
    }

    // What is shown of ssh's words when the tunnel fails; the flows through the menu cover the
    // ordinary ones.
    void outputShown() {
        QCOMPARE(sshOutputText("Authorized use only.\r\n\r\nchannel 3: open failed: x\n"
                               "Warning: Permanently added 'h' (ED25519) to the list of known "
                               "hosts.\r\nuser@h: Permission denied (publickey).\r\n"),
                 QStringLiteral("Authorized use only.\r\n\r\nuser@h: Permission denied "
                                "(publickey)."));
        QCOMPARE(sshOutputText("bad \xff byte"), QStringLiteral(u"bad \uFFFD byte"));
        QVERIFY(sshEndedText({}, {}, 9).contains(QLatin1String("signal 9")));
    }

    // Like ssh, it says something on its way out when we end it: nothing is kept for a report
    // (that it reports no end is the end-to-end test's restart of a tunnel).
    void aTerminatedProcessKeepsNoWords() {
        auto process = runShellCommand(
            QStringLiteral("trap 'echo Killed by signal 15. >&2; exit 255' TERM; sleep 60 & wait"));
        SshMonitor monitor(*process);
        QSignalSpy exited(process.get(), &ShellProcess::exited);
        QTest::qWait(100);
        process->terminate();
        QVERIFY(exited.wait(10000));
        QCOMPARE(monitor.said(), QString());
    }

    void recordsSurviveOnlyWhole() {
        const TunnelRecord record{
            "Wi-Fi \"2\"", true,   6969, "d", "h", ProcessIdentity{4242, 1234567890123ULL, "b"},
            "custom",      "~/k y"};
        const QByteArray text = serializeTunnelRecord(record);
        QCOMPARE(parseTunnelRecord(text), std::optional<TunnelRecord>(record));
        // An earlier version's record names no key: ssh's own keys, as then.
        QByteArray earlier = text;
        earlier.replace(",\"privateKey\":\"custom\",\"privateKeyFile\":\"~/k y\"", "");
        QCOMPARE(parseTunnelRecord(earlier)->privateKey, QStringLiteral("default"));
        QCOMPARE(parseTunnelRecord(serializeTunnelRecord({})), std::optional(TunnelRecord{}));
        QCOMPARE(recoveryFor(TunnelRecord{}, false), Recovery::Forget); // it holds nothing
        for (const QByteArray &damaged :
             {text.left(text.size() / 2), QByteArray("{}"), QByteArray(text).replace("4242", "1"),
              QByteArray(text).replace("6969", "\"6969\""), QByteArray(text).replace("\"b\"", "1"),
              QByteArray(text).replace("\"custom\"", "2")})
            QVERIFY2(!parseTunnelRecord(damaged), damaged);
    }

    void theFileIsNeverFollowedOrTrustedBlindly() {
        const QString directory = m_environment.path(QStringLiteral("state/zentrel-vpn"));
        const TunnelRecordFile file(directory);
        const TunnelRecord record{"Wi-Fi", true, 6969, {}, {}, std::nullopt, {}, {}};
        QString error;
        QVERIFY2(file.save(record, error), qPrintable(error));
        QCOMPARE(file.load().record, std::optional<TunnelRecord>(record));
        QCOMPARE(QDir(directory).entryList(QDir::Files), QStringList{QStringLiteral("tunnel")});

        // A link in its place is not read through, a FIFO does not hang us, a huge file is
        // not read, and a folder that others may write to is not trusted at all (the folder's
        // own checks, shared with the single-instance lock, are that test's).
        const QString target = m_environment.path(QStringLiteral("elsewhere"));
        QFile::copy(file.path(), target);
        const QByteArray path = QFile::encodeName(file.path());
        for (const auto &plant : std::initializer_list<std::function<bool()>>{
                 [&] {
                     return symlink(QFile::encodeName(target).constData(), path.constData()) == 0;
                 },
                 [&] { return mkfifo(path.constData(), 0600) == 0; },
                 [&] {
                     QFile big(file.path());
                     return big.open(QIODevice::WriteOnly) &&
                            big.write(QByteArray(1024 * 1024, ' ') + serializeTunnelRecord(record));
                 },
             }) {
            QFile::remove(file.path());
            QVERIFY(plant());
            QVERIFY(!file.load().error.isEmpty());
        }
        QVERIFY(file.save(record, error)); // replaces it, whatever it was
        QCOMPARE(chmod(QFile::encodeName(directory).constData(), 0777), 0);
        QVERIFY(!file.load().error.isEmpty());
        QVERIFY(QFileInfo(target).size() > 0);
    }

    void portHolders() {
        const QSet<quint64> ours{1, 2};
        const auto holder = [&](QList<TcpSocket> sockets) {
            return portHolder(sockets, 6969, ours);
        };
        const TcpSocket ourV4 = listener(ip("127.0.0.1"), 6969, 1);
        const TcpSocket ourV6 = listener(ip("::1"), 6969, 2);
        QCOMPARE(holder({}), PortHolder::Nobody);
        QCOMPARE(holder({ourV4, ourV6}), PortHolder::Us);
        QCOMPARE(holder({ourV4}), PortHolder::Us); // a machine without IPv6
        // Another program on any address where "localhost" arrives, even beside ours.
        for (const QByteArray &address :
             {ip("::1"), ip("0.0.0.0"), ip("::"), ip("::ffff:127.0.0.1"), ip("127.0.0.1")})
            QCOMPARE(holder({ourV4, listener(address, 6969, 9)}), PortHolder::Other);
        // Not where localhost arrives, another port, or a connection rather than a listener.
        const TcpSocket client{false, ip("127.0.0.1"), 6969, {}, 0, 9, {}};
        QCOMPARE(holder({ourV4, listener(ip("10.0.0.5"), 6969, 9), listener(ip("::1"), 6970, 9),
                         client}),
                 PortHolder::Us);
        // ssh's own connection is the one that is no client of its SOCKS port.
        TcpSocket ourClient{false, ip("127.0.0.1"), 6969, ip("127.0.0.1"), 50000, 1, {}};
        TcpSocket toServer{false, ip("10.0.0.5"), 40000, ip("198.51.100.7"), 22, 2, {}};
        QCOMPARE(serverConnectionOf({ourClient, toServer}, ours, 6969)->remoteAddress,
                 ip("198.51.100.7"));
    }

    // Another program on ::1 of the port is seen in the kernel's socket table and reported;
    // our own ssh holding it is the end-to-end tests' every connect.
    void aListenerOfAnotherProgramIsFound() {
        auto other = runShellCommand(QStringLiteral(
            "exec python3 -c 'import socket,time; s=socket.socket(socket.AF_INET6);"
            "s.bind((\"::1\", 0)); s.listen(); print(s.getsockname()[1], flush=True); "
            "time.sleep(60)'"));
        QSignalSpy said(other.get(), &ShellProcess::outputReceived);
        QVERIFY(said.wait(10000));
        PortWatch watch;
        QSignalSpy taken(&watch, &PortWatch::taken);
        watch.start(static_cast<quint16>(said[0][0].toByteArray().trimmed().toUInt()), getpid());
        QTRY_COMPARE(taken.count(), 1);
        other->kill();
    }

    void supervisorDecisions() {
        using A = TunnelAction;
        using E = TunnelEvent;
        using P = TunnelPhase;
        using Row = std::tuple<P, E, bool, bool, TunnelStep>; // network up, retries left
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
        int row = 0;
        for (const auto &[phase, event, networkUp, retriesLeft, step] : rows)
            QVERIFY2(nextTunnelStep(phase, event, networkUp, retriesLeft) == step,
                     qPrintable(QStringLiteral("row %1").arg(row++)));
    }

private:
    // Runs the line through the real bash; returns the arguments the stand-in tool received.
    QStringList runThroughBash(const QString &commandLine) {
        const QString log = m_environment.path(QStringLiteral("argv"));
        QFile::remove(log);
        runShellCommand(commandLine)->waitForExit();
        QStringList arguments = QString::fromUtf8(TestEnvironment::readFile(log)).split(QChar(0));
        arguments.removeLast(); // after the last terminator
        return arguments;
    }

    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(TunnelTest, QCoreApplication)
#include "tst_tunnel.moc"
