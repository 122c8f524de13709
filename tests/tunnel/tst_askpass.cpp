#include "AskPass.h"
#include "ShellProcess.h"

#include <QFileInfo>
#include <QtTest>

class AskPassTest : public QObject {
    Q_OBJECT

private slots:
    void sshAsksInOurDialogWhateverTheDesktopSet() {
        // The build tree is laid out as the install tree: bin/ and the helper directory.
        const QFileInfo program(askPassProgram(QStringLiteral(ZENTREL_BUILD_BIN_DIR)));
        QVERIFY2(program.isExecutable() && program.fileName() == "zentrel-vpn-askpass" &&
                     program.filePath() == program.absoluteFilePath(),
                 qPrintable(program.filePath()));

        qputenv("SSH_ASKPASS", "/usr/bin/ksshaskpass");
        qputenv("SSH_ASKPASS_REQUIRE", "prefer");
        qputenv("DISPLAY", ":1");
        const QStringList environment = askPassEnvironment(QStringLiteral("/opt/z/askpass"));
        QCOMPARE(runShellCommand(QStringLiteral("echo $SSH_ASKPASS $SSH_ASKPASS_REQUIRE $DISPLAY"),
                                 environment)
                     ->readToEnd(),
                 QByteArray("/opt/z/askpass force :1\n"));
    }
};

QTEST_APPLESS_MAIN(AskPassTest)
#include "tst_askpass.moc"
