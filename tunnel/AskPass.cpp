#include "AskPass.h"

#include <QDir>

QString askPassProgram(const QString &applicationDirectory) {
    return QDir::cleanPath(applicationDirectory + QStringLiteral("/" ZENTREL_HELPER_RELATIVE_DIR
                                                                 "/" ZENTREL_ASKPASS_PROGRAM));
}

QProcessEnvironment askPassEnvironment(const QString &program,
                                       const QProcessEnvironment &inherited) {
    QProcessEnvironment environment = inherited;
    environment.insert(QStringLiteral("SSH_ASKPASS"), program);
    environment.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
    return environment;
}
