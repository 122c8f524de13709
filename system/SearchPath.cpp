#include "SearchPath.h"

#include <QFile>
#include <QList>

QByteArray searchPathWith(const QString &first, const QByteArray &inherited) {
    QList<QByteArray> entries;
    if (!first.isEmpty())
        entries << QFile::encodeName(first);
    for (const QByteArray &entry : inherited.split(':')) {
        if (entry.startsWith('/') && !entries.contains(entry))
            entries << entry;
    }
    return entries.join(':');
}
