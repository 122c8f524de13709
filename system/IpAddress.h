#pragma once

#include <QByteArray>

// An IP address as 4 or 16 bytes in network order, with an IPv4 address mapped into IPv6
// (::ffff:a.b.c.d) given as the 4 bytes it is; empty for anything that is no such address.
inline QByteArray unmappedAddress(const QByteArray &address) {
    static const QByteArray mappedPrefix = QByteArray(10, '\0') + QByteArray(2, '\xff');
    if (address.size() == 16 && address.startsWith(mappedPrefix))
        return address.mid(12);
    return address.size() == 4 || address.size() == 16 ? address : QByteArray();
}
