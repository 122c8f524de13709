#pragma once

#include <QString>

// Whether `path` is a folder (not a symbolic link) of the current user that nobody else can
// write to; if not, `error` says why in a sentence.
bool isPrivateFolder(const QString &path, QString &error);

// Creates `path` and any missing parents as folders only their owner can enter, unless they
// exist, and checks `path` as above.
bool makePrivateFolder(const QString &path, QString &error);
