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

QString fallbackNetworkService(const QString &detected, const QStringList &listing) {
    return detected.isEmpty() ? listing.value(0) : detected;
}

QString detectNetworkService() {
    const QString detected = defaultNetworkService();
    return detected.isEmpty() ? fallbackNetworkService(detected, listNetworkServices()) : detected;
}

QString NetworkServiceCache::detectedService() {
    if (!m_wifiService)
        m_wifiService = defaultNetworkService();
    return m_wifiService->isEmpty() ? fallbackNetworkService(*m_wifiService, services())
                                    : *m_wifiService;
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
