#pragma once

#include <QString>

// Whether `path` is a folder (not a symbolic link) of the current user that nobody else can
// write to; if not, `error` says why in a sentence.
bool isPrivateFolder(const QString &path, QString &error);

// Creates `path` (and its parents) as a folder only its owner can enter, unless it exists, and
// checks it as above.
bool makePrivateFolder(const QString &path, QString &error);
