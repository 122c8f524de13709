#include "DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

void notifyDesktop(const QString &summary, const QString &body, bool wait) {
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notify << QStringLiteral("Zentrel VPN") << 0u << QStringLiteral("zentrel-vpn") << summary
           << body << QStringList() << QVariantMap() << -1;
    if (wait)
        QDBusConnection::sessionBus().call(notify, QDBus::Block, 2000);
    else
        QDBusConnection::sessionBus().send(notify);
}
