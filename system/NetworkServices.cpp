#include "NetworkServices.h"

#include "ShellProcess.h"

QStringList listingLines(const QByteArray &output) {
    return QString::fromUtf8(output).trimmed().split(QLatin1Char('\n'));
}

namespace {
// A listing answers at once; one that hangs must not hold the application up for long.
constexpr std::chrono::seconds listingDeadline{5};

QStringList runListing(const QString &pipeline) {
    return listingLines(runShellCommand(pipeline)->readToEnd(listingDeadline));
}
} // namespace

QString defaultNetworkService() {
    return runListing(defaultServicePipeline).constFirst();
}

QStringList listNetworkServices() {
    return runListing(serviceListPipeline);
}

QString NetworkServiceCache::detectedService() {
    if (!m_wifiService)
        m_wifiService = defaultNetworkService();
    return m_wifiService->isEmpty() ? services().value(0) : *m_wifiService;
}

QString NetworkServiceCache::serviceOr(const std::optional<QString> &stored) {
    return stored ? *stored : detectedService();
}

QStringList NetworkServiceCache::services() {
    if (!m_services)
        m_services = listNetworkServices();
    return *m_services;
}

void NetworkServiceCache::forget() {
    m_wifiService.reset();
    m_services.reset();
}
