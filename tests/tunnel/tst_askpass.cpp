#include "AskPass.h"
#include "ShellProcess.h"

#include <QFileInfo>
#include <QtTest>

class AskPassTest : public QObject {
    Q_OBJECT

private slots:
    void programIsFoundFromTheExecutablesDirectory() {
        // The build tree is laid out as the install tree: bin/ and the helper directory.
        const QFileInfo program(askPassProgram(QStringLiteral(ZENTREL_BUILD_BIN_DIR)));
        QVERIFY2(program.isFile() && program.isExecutable(), qPrintable(program.filePath()));
        QCOMPARE(program.fileName(), QStringLiteral("zentrel-vpn-askpass"));
        QCOMPARE(program.filePath(), program.absoluteFilePath());
    }

    void sshAsksInOurDialogWhateverTheDesktopSet() {
        qputenv("SSH_ASKPASS", "/usr/bin/ksshaskpass");
        qputenv("SSH_ASKPASS_REQUIRE", "prefer");
        qputenv("DISPLAY", ":1");
        const QStringList environment = askPassEnvironment(QStringLiteral("/opt/z/askpass"));
        const QByteArray seen =
            runShellCommand(QStringLiteral("echo $SSH_ASKPASS $SSH_ASKPASS_REQUIRE $DISPLAY"),
                            environment)
                ->readToEnd();
        QCOMPARE(seen, QByteArray("/opt/z/askpass force :1\n"));
    }
};

QTEST_APPLESS_MAIN(AskPassTest)
#include "tst_askpass.moc"
