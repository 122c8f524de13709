#pragma once

#include <QByteArray>
#include <QString>

// The search path for the commands we run: `first` ahead of the inherited one, from which
// empty and relative entries are dropped, since those name whatever folder we happen to be in
// and would let a stray "networksetup" there run in place of ours.
QByteArray searchPathWith(const QString &first, const QByteArray &inherited);
