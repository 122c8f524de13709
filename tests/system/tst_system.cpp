#include "NetworkServices.h"
#include "ShellProcess.h"
#include "TestEnvironment.h"

#include <QProcess>

#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace {
bool isAlive(pid_t pid) {
    // A zombie still answers kill(0); only a live process has a state other than Z.
    const QByteArray stat = TestEnvironment::readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    return close > 0 && stat.size() > close + 2 && stat.at(close + 2) != 'Z';
}
} // namespace

// runShellCommand's processes, and the network service listings run through it.
class SystemTest : public QObject {
    Q_OBJECT

public:
    explicit SystemTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void commandLineReachesBashAsOneArgumentAndBothStreamsShareOnePipe() {
        const QString line = QStringLiteral(
            "printf '%s' \"$BASH_EXECUTION_STRING\" # \"quoted\" | pipe ; semi\n# `second` line");
        QCOMPARE(QString::fromUtf8(runShellCommand(line)->readToEnd()), line);
        QCOMPARE(runShellCommand(QStringLiteral("printf '[%s]' \"$0\" \"$#\""))->readToEnd(),
                 QByteArray("[/bin/bash][0]"));
        QCOMPARE(runShellCommand(QString())->readToEnd(), QByteArray());
        QCOMPARE(
            runShellCommand(QStringLiteral("echo one; echo two >&2; echo three; echo four >&2"))
                ->readToEnd(),
            QByteArray("one\ntwo\nthree\nfour\n"));
    }

    void failedLaunchNeverBlocks() {
        auto process = ShellProcess::start(QStringLiteral("/nonexistent/bash"), {});
        QVERIFY(!process->wasLaunched() && process->hasExited());
        process->waitForExit();
        QCOMPARE(process->readToEnd(), QByteArray());
        process->terminate();
        QCOMPARE(process->exitCode(), std::nullopt);

        // Nor does one that hangs: it is killed at the deadline, what it wrote is kept.
        auto hung = runShellCommand(QStringLiteral("echo partial; exec sleep 30"));
        QCOMPARE(hung->readToEnd(std::chrono::milliseconds(300)), QByteArray("partial\n"));
        hung->waitForExit();
        QCOMPARE(hung->exitSignal(), std::optional<int>(SIGKILL));
    }

    void unreadOutputNeverStallsTheChild() {
        // Far more than a pipe holds, to a handle that is only waited for.
        auto process =
            runShellCommand(QStringLiteral("head -c 8000000 /dev/zero; echo done; exit 3"));
        process->waitForExit();
        QCOMPARE(process->exitCode(), std::optional<int>(3));
        QVERIFY(process->readToEnd().endsWith("done\n"));
    }

    void terminateEndsEverythingTheShellStarted() {
        auto process = runShellCommand(QStringLiteral("sleep 60 & echo $!; wait"));
        QSignalSpy exited(process.get(), &ShellProcess::exited);
        QTRY_VERIFY(process->output().endsWith('\n'));
        const pid_t sleeper = process->output().trimmed().toInt();
        process->terminate();
        QVERIFY(exited.wait(10000));
        QCOMPARE(process->exitSignal(), std::optional<int>(SIGTERM));
        QTRY_VERIFY(!isAlive(sleeper));
        process->terminate(); // again, after the end: no effect, no error
    }

    void releasingTheHandleLeavesTheChildRunning() {
        const pid_t child = runShellCommand(QStringLiteral("exec sleep 60"))->pid(); // released
        QVERIFY(isAlive(child));
        QCOMPARE(getsid(child), child); // its own session: our terminal's signals are not its
        kill(child, SIGTERM);
        // The released handle's child is still reaped once it ends: no zombie is left.
        QTRY_VERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(child)));
    }

    void withoutProcessDescriptorsExitsAreStillSeen() {
        qputenv("ZENTREL_NO_PIDFD", "1");
        std::vector<pid_t> pids;
        std::vector<std::unique_ptr<ShellProcess>> watched;
        for (int i = 0; i < 200; ++i) {
            auto process = runShellCommand(QStringLiteral("exit 3"));
            pids.push_back(process->pid());
            if (i % 3 == 0)
                process->waitForExit();
            else if (i % 3 == 1)
                watched.push_back(std::move(process)); // ends through the event loop
        }                                              // and a third released at once
        QTRY_VERIFY(std::all_of(watched.begin(), watched.end(),
                                [](const auto &process) { return process->hasExited(); }));
        QCOMPARE(watched.front()->exitCode(), std::optional<int>(3));
        QTRY_VERIFY(std::none_of(pids.begin(), pids.end(), [](pid_t pid) {
            return QFile::exists(QStringLiteral("/proc/%1").arg(pid));
        }));

        // A background child holding the pipe hides the shell's end neither from the event
        // loop nor from a wait.
        for (const bool byEventLoop : {true, false}) {
            auto process = runShellCommand(QStringLiteral("sleep 30 & echo $!; exit 4"));
            QSignalSpy exited(process.get(), &ShellProcess::exited);
            QVERIFY(byEventLoop ? exited.wait(5000) : (process->waitForExit(), true));
            QCOMPARE(process->exitCode(), std::optional<int>(4));
            kill(process->output().trimmed().toInt(), SIGKILL);
        }
        qunsetenv("ZENTREL_NO_PIDFD");
    }

    void adoptedProcessIsWatchedAndStoppedOnlyIfStillTheSame() {
        for (const bool withDescriptors : {true, false}) {
            if (!withDescriptors)
                qputenv("ZENTREL_NO_PIDFD", "1");
            // Not our child: started by a shell that has gone.
            auto starter = runShellCommand(QStringLiteral("sleep 60 >/dev/null 2>&1 & echo $!"));
            const pid_t sleeper = starter->readToEnd().trimmed().toInt();
            const std::optional<ProcessIdentity> identity = identifyProcess(sleeper);
            QVERIFY(identity);

            ProcessIdentity stranger = *identity;
            ++stranger.startTime; // the same pid, another process
            ShellProcess::adopt(stranger)->terminate();
            QTest::qWait(100);
            QVERIFY(isAlive(sleeper));

            auto adopted = ShellProcess::adopt(*identity);
            QSignalSpy exited(adopted.get(), &ShellProcess::exited);
            adopted->terminate();
            QVERIFY(exited.wait(5000));
            QVERIFY(!isRunning(*identity));
            qunsetenv("ZENTREL_NO_PIDFD");
        }
    }

    void linesAreTrimmedOnlyAtTheEnds() {
        QCOMPARE(listingLines("  a \n\n b\r\nc  \n"), QStringList({"a ", "", " b\r", "c"}));
        QCOMPARE(listingLines("caf\xc3\xa9 \xff"), QStringList{QStringLiteral(u"café \uFFFD")});
    }

    void discoveryThroughTheRealPipelinesAndHelper() {
        // The built helper on a fake sysfs: the routed wired port first, then two Wi-Fi.
        const QString root = m_environment.path(QStringLiteral("net"));
        const auto layOut = [&root](const char *script) {
            return QProcess::execute(
                QStringLiteral("bash"),
                {QStringLiteral("-euc"), QStringLiteral("source \"$1\"; ") + QLatin1String(script),
                 QStringLiteral("layout"), QStringLiteral(ZENTREL_TESTS_DIR "/support/testlib.sh"),
                 root});
        };
        QCOMPARE(layOut("add_iface $2/sys enp3s0 ethernet; add_iface $2/sys wlan0 wifi;"
                        "add_iface $2/sys wlan1 wifi; set_routes $2/proc enp3s0:100"),
                 0);
        qputenv("ZENTREL_SYSFS_ROOT", QFile::encodeName(root + QStringLiteral("/sys")));
        qputenv("ZENTREL_PROC_NET_ROOT", QFile::encodeName(root + QStringLiteral("/proc")));
        m_environment.removeTool(QStringLiteral("networksetup"));
        QVERIFY(QFile::link(QStringLiteral(ZENTREL_HELPER_PATH),
                            QDir(m_environment.binDirectory()).filePath("networksetup")));
        QCOMPARE(defaultNetworkService(), QStringLiteral("Wi-Fi"));
        QCOMPARE(listNetworkServices(), QStringList({"Ethernet", "Wi-Fi", "Wi-Fi 2"}));
        QCOMPARE(layOut("set_routes $2/proc wlan1:50"), 0); // the routed Wi-Fi comes first
        QCOMPARE(defaultNetworkService(), QStringLiteral("Wi-Fi 2"));
        QCOMPARE(layOut("rm $2/sys/class/net/wlan*"), 0);
        QCOMPARE(defaultNetworkService(), QString());
        QCOMPARE(layOut("rm $2/sys/class/net/enp3s0"), 0);
        QCOMPARE(listNetworkServices(), QStringList{QString()});
    }

private:
    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(SystemTest, QCoreApplication)
#include "tst_system.moc"
