#include "AskPass.h"

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
        QProcessEnvironment desktop;
        desktop.insert(QStringLiteral("SSH_ASKPASS"), QStringLiteral("/usr/bin/ksshaskpass"));
        desktop.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("prefer"));
        desktop.insert(QStringLiteral("DISPLAY"), QStringLiteral(":1"));
        desktop.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
        desktop.insert(QStringLiteral("XAUTHORITY"), QStringLiteral("/run/user/1000/xauth"));

        const QProcessEnvironment ssh =
            askPassEnvironment(QStringLiteral("/opt/z/libexec/zentrel-vpn/askpass"), desktop);
        QCOMPARE(ssh.value(QStringLiteral("SSH_ASKPASS")),
                 QStringLiteral("/opt/z/libexec/zentrel-vpn/askpass"));
        QCOMPARE(ssh.value(QStringLiteral("SSH_ASKPASS_REQUIRE")), QStringLiteral("force"));
        for (const char *kept : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY"})
            QCOMPARE(ssh.value(QLatin1String(kept)), desktop.value(QLatin1String(kept)));
        QCOMPARE(ssh.keys().size(), desktop.keys().size());
    }
};

QTEST_APPLESS_MAIN(AskPassTest)
#include "tst_askpass.moc"
