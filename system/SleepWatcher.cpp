#include "SleepWatcher.h"

#include <QDBusConnection>

namespace {
const QString service = QStringLiteral("org.freedesktop.login1");
const QString path = QStringLiteral("/org/freedesktop/login1");
const QString interface = QStringLiteral("org.freedesktop.login1.Manager");
} // namespace

SleepWatcher::SleepWatcher(QObject *parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.connect(service, path, interface, QStringLiteral("PrepareForSleep"), this,
                SLOT(onPrepareForSleep(bool)));
    bus.connect(service, path, interface, QStringLiteral("PrepareForShutdown"), this,
                SLOT(onPrepareForShutdown(bool)));
}

void SleepWatcher::onPrepareForSleep(bool sleeping) {
    if (!sleeping)
        emit resumed();
}

void SleepWatcher::onPrepareForShutdown(bool stopping) {
    if (stopping)
        emit shuttingDown();
}
