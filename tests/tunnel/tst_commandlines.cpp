#include "CommandLines.h"
#include "ShellProcess.h"
#include "TestEnvironment.h"

#include <QStandardPaths>

namespace {
TunnelSettings example() {
    return TunnelSettings{"Wi-Fi", 6969, "demo", "198.51.100.7", "custom", "/etc/ssh/id_rsa"};
}

// What every tunnel command carries, whatever ~/.ssh/config says.
const QStringList tunnelOptions = {"-o", "ControlPath=none",      "-o", "ExitOnForwardFailure=yes",
                                   "-o", "ServerAliveInterval=10"};

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

    void keyOptionOnlyForACustomKeyWithAPath() {
        // Only "default" means ssh's own keys; an empty path gives no -i either.
        const QStringList withKey = {"demo@198.51.100.7", "-i", "/etc/ssh/id_rsa"};
        TunnelSettings settings = example();
        for (const auto &[choice, path, arguments] :
             {std::tuple<QString, QString, QStringList>{"Default", "/etc/ssh/id_rsa", withKey},
              {"default", "/etc/ssh/id_rsa", {withKey[0]}},
              {"custom", "", {withKey[0]}}}) {
            settings.privateKey = choice;
            settings.privateKeyFile = path;
            QCOMPARE(runThroughBash(tunnelCommand(settings)).mid(tunnelOptions.size() + 1),
                     arguments);
        }
    }

    void hostileValuesStayLiteralArguments() {
        const QString marker = m_environment.path(QStringLiteral("marker"));
        const QString touch = QStringLiteral("touch '%1'").arg(marker);
        for (const QString &value :
             {QStringLiteral("a\"; %1; echo \"").arg(touch), QStringLiteral("$(%1)").arg(touch),
              QStringLiteral("`%1`").arg(touch), QStringLiteral("back\\slash\\\" $HOME"),
              QStringLiteral("two\nlines; %1").arg(touch),
              QStringLiteral("it's '; %1; '").arg(touch)}) {
            const TunnelSettings settings{value, 6969, value, value, "custom", value};
            QCOMPARE(runThroughBash(proxyAddressCommand(settings)),
                     QStringList({"-setsocksfirewallproxy", value, "localhost", "6969"}));
            QCOMPARE(runThroughBash(proxyOnCommand(settings)),
                     QStringList({"-setsocksfirewallproxystate", value, "on"}));
            QCOMPARE(runThroughBash(tunnelCommand(settings)),
                     (QStringList{"-NTCD6969"} + tunnelOptions +
                      QStringList{value + '@' + value, "-i", value}));
            QVERIFY2(!QFile::exists(marker), qPrintable(value));
        }
    }

    void keyPathsStayOneWord() {
        TunnelSettings settings = example();
        for (const auto &[path, argument] :
             {std::pair<QString, QString>{"/keys/my key", "/keys/my key"},
              {"~/my keys/id *", QDir::homePath() + "/my keys/id *"},
              {"~other/id", "~other/id"}}) {
            settings.privateKeyFile = path;
            QCOMPARE(runThroughBash(tunnelCommand(settings)).last(), argument);
        }
    }

    void noUserNameBecomesAnSshOption() {
        TunnelSettings settings = example();
        const QString marker = m_environment.path(QStringLiteral("proxy-marker"));
        settings.username = QStringLiteral("-oProxyCommand=touch %1").arg(marker);
        settings.server = QStringLiteral("127.0.0.1");
        QCOMPARE(runThroughBash(tunnelCommand(settings)),
                 (QStringList{"-NTCD6969"} + tunnelOptions +
                  QStringList{"-i", "/etc/ssh/id_rsa", "--",
                              settings.username + QStringLiteral("@127.0.0.1")}));

        // The real client, too, takes it as a user name and runs nothing.
        m_environment.removeTool(QStringLiteral("ssh"));
        const bool haveSsh = !QStandardPaths::findExecutable(QStringLiteral("ssh")).isEmpty();
        QVERIFY2(haveSsh, "the OpenSSH client is not installed (scripts/install-dependencies)");
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
