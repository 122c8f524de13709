#include "CommandLines.h"
#include "ShellProcess.h"
#include "TestEnvironment.h"

namespace {
TunnelSettings example() {
    return TunnelSettings{QStringLiteral("Wi-Fi"),  6969,
                          QStringLiteral("demo"),   QStringLiteral("198.51.100.7"),
                          QStringLiteral("custom"), QStringLiteral("/etc/ssh/id_rsa")};
}

// Stand-ins that record each argument they get on a line of its own, NUL-terminated.
const QByteArray recordArguments =
    "for a in \"$@\"; do printf '%s\\0' \"$a\"; done >> \"$ARGV_LOG\"\n";
} // namespace

class CommandLinesTest : public QObject {
    Q_OBJECT

public:
    explicit CommandLinesTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void initTestCase() {
        m_environment.installTool(QStringLiteral("networksetup"), recordArguments);
        m_environment.installTool(QStringLiteral("ssh"), recordArguments);
        qputenv("ARGV_LOG", QFile::encodeName(m_environment.path(QStringLiteral("argv"))));
    }

    void exampleTable() {
        TunnelSettings settings = example();
        QCOMPARE(proxyAddressCommand(settings),
                 QStringLiteral("networksetup -setsocksfirewallproxy \"Wi-Fi\" localhost 6969"));
        QCOMPARE(proxyOnCommand(settings),
                 QStringLiteral("networksetup -setsocksfirewallproxystate \"Wi-Fi\" on"));
        QCOMPARE(tunnelCommand(settings),
                 QStringLiteral("ssh -NTCD6969 \"demo@198.51.100.7\" -i /etc/ssh/id_rsa"));
        QCOMPARE(proxyOffCommand(settings),
                 QStringLiteral("networksetup -setsocksfirewallproxystate \"Wi-Fi\" off"));

        settings.privateKey = QStringLiteral("default");
        QCOMPARE(tunnelCommand(settings), QStringLiteral("ssh -NTCD6969 \"demo@198.51.100.7\""));
        settings.privateKey = QStringLiteral("custom");
        settings.privateKeyFile.clear();
        QCOMPARE(tunnelCommand(settings), QStringLiteral("ssh -NTCD6969 \"demo@198.51.100.7\""));
    }

    void keyArgumentRule() {
        const QString path = QStringLiteral("/etc/ssh/id_rsa");
        QCOMPARE(sshKeyArgument(QStringLiteral("default"), path), QString());
        QCOMPARE(sshKeyArgument(QStringLiteral("Default"), path),
                 QStringLiteral(" -i /etc/ssh/id_rsa"));
        QCOMPARE(sshKeyArgument(QStringLiteral("anything"), path),
                 QStringLiteral(" -i /etc/ssh/id_rsa"));
        QCOMPARE(sshKeyArgument(QStringLiteral("custom"), QString()), QString());
        QCOMPARE(sshKeyArgument(QStringLiteral("custom"), QStringLiteral("~/.ssh/id_ed25519")),
                 QStringLiteral(" -i ~/.ssh/id_ed25519"));
    }

    void unusualOrdinaryValues() {
        TunnelSettings settings = example();
        settings.port = 70000;
        QCOMPARE(proxyAddressCommand(settings),
                 QStringLiteral("networksetup -setsocksfirewallproxy \"Wi-Fi\" localhost 70000"));
        QVERIFY(tunnelCommand(settings).startsWith(QLatin1String("ssh -NTCD70000 \"demo@")));
        settings.port = -1;
        QVERIFY(proxyAddressCommand(settings).endsWith(QLatin1String(" localhost -1")));
        QVERIFY(tunnelCommand(settings).startsWith(QLatin1String("ssh -NTCD-1 \"demo@")));

        settings.networkService.clear();
        QCOMPARE(proxyOnCommand(settings),
                 QStringLiteral("networksetup -setsocksfirewallproxystate \"\" on"));
        settings.server.clear();
        settings.privateKey = QStringLiteral("default");
        QCOMPARE(tunnelCommand(settings), QStringLiteral("ssh -NTCD-1 \"demo@\""));

        settings.networkService = QStringLiteral("My Network");
        QCOMPARE(runThroughBash(proxyOffCommand(settings)),
                 (QStringList{QStringLiteral("-setsocksfirewallproxystate"),
                              QStringLiteral("My Network"), QStringLiteral("off")}));
    }

    void hostileValuesStayLiteralArguments() {
        const QString marker = m_environment.path(QStringLiteral("marker"));
        const QString touch = QStringLiteral("touch '%1'").arg(marker);
        const QStringList hostile = {
            QStringLiteral("a\"; %1; echo \"").arg(touch),
            QStringLiteral("$(%1)").arg(touch),
            QStringLiteral("`%1`").arg(touch),
            QStringLiteral("back\\slash\\\" $HOME"),
            QStringLiteral("two\nlines; %1").arg(touch),
            QStringLiteral("it's '; %1; '").arg(touch),
        };
        for (const QString &value : hostile) {
            TunnelSettings settings = example();
            settings.networkService = value;
            settings.username = value;
            settings.server = value;
            settings.privateKeyFile = value;

            QCOMPARE(runThroughBash(proxyAddressCommand(settings)),
                     (QStringList{QStringLiteral("-setsocksfirewallproxy"), value,
                                  QStringLiteral("localhost"), QStringLiteral("6969")}));
            QCOMPARE(runThroughBash(proxyOnCommand(settings)),
                     (QStringList{QStringLiteral("-setsocksfirewallproxystate"), value,
                                  QStringLiteral("on")}));
            QCOMPARE(runThroughBash(tunnelCommand(settings)),
                     (QStringList{QStringLiteral("-NTCD6969"), value + QLatin1Char('@') + value,
                                  QStringLiteral("-i"), value}));
            QVERIFY2(!QFile::exists(marker), qPrintable(value));
        }
    }

    void keyPathsStayOneWord() {
        TunnelSettings settings = example();
        settings.privateKeyFile = QStringLiteral("/keys/my key");
        QCOMPARE(runThroughBash(tunnelCommand(settings)).mid(2),
                 (QStringList{QStringLiteral("-i"), QStringLiteral("/keys/my key")}));
        settings.privateKeyFile = QStringLiteral("~/my keys/id *");
        QCOMPARE(runThroughBash(tunnelCommand(settings)).mid(2),
                 (QStringList{QStringLiteral("-i"),
                              QDir::homePath() + QStringLiteral("/my keys/id *")}));
        settings.privateKeyFile = QStringLiteral("~other/id");
        QCOMPARE(runThroughBash(tunnelCommand(settings)).last(), QStringLiteral("~other/id"));
    }

    void noUserNameBecomesAnSshOption() {
        TunnelSettings settings = example();
        const QString marker = m_environment.path(QStringLiteral("proxy-marker"));
        settings.username = QStringLiteral("-oProxyCommand=touch %1").arg(marker);
        settings.server = QStringLiteral("127.0.0.1");
        const QString destination = settings.username + QStringLiteral("@127.0.0.1");
        QCOMPARE(
            runThroughBash(tunnelCommand(settings)),
            (QStringList{QStringLiteral("-NTCD6969"), QStringLiteral("-i"),
                         QStringLiteral("/etc/ssh/id_rsa"), QStringLiteral("--"), destination}));

        // The real client, too, takes it as a user name and runs nothing.
        m_environment.removeTool(QStringLiteral("ssh"));
        runShellCommand(tunnelCommand(settings))->waitForExit();
        m_environment.installTool(QStringLiteral("ssh"), recordArguments);
        QVERIFY(!QFile::exists(marker));
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

ZENTREL_TEST_MAIN(CommandLinesTest, QCoreApplication)
#include "tst_commandlines.moc"
