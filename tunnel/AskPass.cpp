#include "AskPass.h"

#include <QDir>

QString askPassProgram(const QString &applicationDirectory) {
    return QDir::cleanPath(applicationDirectory + QStringLiteral("/" ZENTREL_HELPER_RELATIVE_DIR
                                                                 "/" ZENTREL_ASKPASS_PROGRAM));
}

QStringList askPassEnvironment(const QString &program) {
    return {QStringLiteral("SSH_ASKPASS=") + program, QStringLiteral("SSH_ASKPASS_REQUIRE=force")};
}
