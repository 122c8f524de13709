#include "StatusLook.h"

#include <QCoreApplication>

namespace {
ConnectionItem notConfigured() {
    return {QCoreApplication::translate("StatusMenu", "Not Configured"), ConnectionAction::None};
}
ConnectionItem connectItem() {
    return {QCoreApplication::translate("StatusMenu", "Connect"), ConnectionAction::Connect};
}
} // namespace

ConnectionItem initialConnectionItem() {
    return notConfigured();
}

std::optional<ConnectionItem> configuredConnectionItem(bool connected, const QString &server) {
    if (connected)
        return std::nullopt;
    return server.isEmpty() ? notConfigured() : connectItem();
}

ConnectionItem connectedConnectionItem() {
    return {QCoreApplication::translate("StatusMenu", "Disconnect"), ConnectionAction::Disconnect};
}

ConnectionItem disconnectedConnectionItem() {
    return connectItem();
}
