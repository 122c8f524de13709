#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

// Gives each test binary its own home for settings and state, so nothing the tests write can
// touch the user's, and a bin directory first on PATH for stand-in tools.
class TestEnvironment {
public:
    TestEnvironment() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("config"))));
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("state"))));
        QDir(m_root.path()).mkpath(QStringLiteral("bin"));
        qputenv("PATH", QFile::encodeName(binDirectory()) + ':' + qgetenv("PATH"));
    }

    QString binDirectory() const { return m_root.filePath(QStringLiteral("bin")); }
    QString path(const QString &name) const { return m_root.filePath(name); }

    // Puts an executable bash script named `name` first on PATH.
    void installTool(const QString &name, const QByteArray &script) const {
        QFile file(QDir(binDirectory()).filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("#!/bin/bash\n" + script);
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
    }

    void removeTool(const QString &name) const {
        QFile::remove(QDir(binDirectory()).filePath(name));
    }

    static QByteArray readFile(const QString &fileName) {
        QFile file(fileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_root;
};

// QTEST_MAIN with the environment set up before the application object exists (settings
// paths are read once, on first use).
#define ZENTREL_TEST_MAIN(TestClass, ApplicationClass)                                             \
    int main(int argc, char *argv[]) {                                                             \
        TestEnvironment environment;                                                               \
        ApplicationClass application(argc, argv);                                                  \
        TestClass test(environment);                                                               \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
