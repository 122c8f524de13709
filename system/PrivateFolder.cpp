#include "PrivateFolder.h"

#include "SystemError.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool isPrivateFolder(const QString &path, QString &error) {
    struct stat status {};
    if (lstat(QFile::encodeName(path).constData(), &status) != 0) {
        error = QCoreApplication::translate("PrivateFolder", "%1 cannot be used: %2.")
                    .arg(path, systemError(errno));
        return false;
    }
    if (!S_ISDIR(status.st_mode))
        error = QCoreApplication::translate("PrivateFolder", "%1 is not a folder.").arg(path);
    else if (status.st_uid != geteuid())
        error =
            QCoreApplication::translate("PrivateFolder", "%1 belongs to another user.").arg(path);
    else if (status.st_mode & (S_IWGRP | S_IWOTH))
        error = QCoreApplication::translate("PrivateFolder", "%1 can be changed by other users.")
                    .arg(path);
    else
        return true;
    return false;
}

bool makePrivateFolder(const QString &path, QString &error) {
    const QByteArray encoded = QFile::encodeName(path);
    for (qsizetype end = 1; end <= encoded.size(); ++end) {
        if (end < encoded.size() && encoded.at(end) != '/')
            continue;
        if (mkdir(encoded.left(end).constData(), 0700) != 0 && errno != EEXIST) {
            error = QCoreApplication::translate("PrivateFolder", "%1 cannot be created: %2.")
                        .arg(path, systemError(errno));
            return false;
        }
    }
    return isPrivateFolder(path, error);
}
