#include "ShellProcess.h"
#include "TestEnvironment.h"

#include <QSignalSpy>

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

class ShellProcessTest : public QObject {
    Q_OBJECT

public:
    explicit ShellProcessTest(TestEnvironment &) {}

private slots:
    void commandLineReachesBashAsOneArgument() {
        const QString line = QStringLiteral(
            "printf '%s' \"$BASH_EXECUTION_STRING\" # \"quoted\" | pipe ; semi\n# `second` line");
        QCOMPARE(QString::fromUtf8(runShellCommand(line)->readToEnd()), line);

        const QString arguments = QStringLiteral("printf '[%s]' \"$0\" \"$#\"");
        QCOMPARE(runShellCommand(arguments)->readToEnd(), QByteArray("[/bin/bash][0]"));
    }

    void bothStreamsShareOnePipeInOrder() {
        auto process =
            runShellCommand(QStringLiteral("echo one; echo two >&2; echo three; echo four >&2"));
        QCOMPARE(process->readToEnd(), QByteArray("one\ntwo\nthree\nfour\n"));
        process->waitForExit();
        QCOMPARE(process->exitCode(), std::optional<int>(0));

        QCOMPARE(runShellCommand(QString())->readToEnd(), QByteArray());
    }

    void failedLaunchNeverBlocks() {
        auto process = ShellProcess::start(QStringLiteral("/nonexistent/bash"), {});
        QVERIFY(!process->wasLaunched());
        QVERIFY(process->hasExited());
        process->waitForExit();
        QCOMPARE(process->readToEnd(), QByteArray());
        process->terminate();
        QCOMPARE(process->exitCode(), std::nullopt);
    }

    void unreadOutputNeverStallsTheChild() {
        // Far more than a pipe holds, to a handle that is only waited for.
        auto process =
            runShellCommand(QStringLiteral("head -c 8000000 /dev/zero; echo done; exit 3"));
        process->waitForExit();
        QCOMPARE(process->exitCode(), std::optional<int>(3));
        QVERIFY(process->readToEnd().endsWith("done\n"));
    }

    void chunksAndExitArriveThroughTheEventLoop() {
        auto process =
            runShellCommand(QStringLiteral("echo first; sleep 0.2; echo second >&2; exit 7"));
        QSignalSpy chunks(process.get(), &ShellProcess::outputReceived);
        QSignalSpy exited(process.get(), &ShellProcess::exited);
        QVERIFY(exited.wait(10000));
        QByteArray all;
        for (const QList<QVariant> &chunk : chunks)
            all += chunk.at(0).toByteArray();
        QCOMPARE(all, QByteArray("first\nsecond\n"));
        QCOMPARE(chunks.first().at(0).toByteArray(), QByteArray("first\n"));
        QCOMPARE(process->exitCode(), std::optional<int>(7));
    }

    void terminateEndsEverythingTheShellStarted() {
        const QString pidFile =
            QDir::temp().filePath(QStringLiteral("zentrel-sleep-%1").arg(getpid()));
        auto process =
            runShellCommand(QStringLiteral("sleep 60 & echo $! > '%1'; wait").arg(pidFile));
        QSignalSpy exited(process.get(), &ShellProcess::exited);
        QTRY_VERIFY(!TestEnvironment::readFile(pidFile).trimmed().isEmpty());
        const pid_t sleeper = TestEnvironment::readFile(pidFile).trimmed().toInt();
        QFile::remove(pidFile);

        process->terminate();
        QVERIFY(exited.wait(10000));
        QCOMPARE(process->exitSignal(), std::optional<int>(SIGTERM));
        QTRY_VERIFY(!isAlive(sleeper));
        process->terminate(); // again, after the end: no effect, no error
    }

    void releasingTheHandleLeavesTheChildRunning() {
        pid_t child;
        {
            auto process = runShellCommand(QStringLiteral("exec sleep 60"));
            child = process->pid();
            QVERIFY(process->wasLaunched());
        }
        QVERIFY(isAlive(child));
        QCOMPARE(getsid(child), child); // its own session: our terminal's signals are not its
        kill(child, SIGTERM);
        // The released handle's child is still reaped once it ends: no zombie is left.
        QTRY_VERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(child)));
    }
};

ZENTREL_TEST_MAIN(ShellProcessTest, QCoreApplication)
#include "tst_shellprocess.moc"
