#pragma once

#include <string>
#include <vector>

namespace zentrel::networksetup {

struct NetworkService {
    std::string name;         // "Wi-Fi", "Ethernet 2": what the proxy commands take
    std::string hardwarePort; // "Wi-Fi", "Ethernet", "USB Modem", ...
    std::string device;       // kernel interface name
};

// Where the facts come from; tests point these at fake trees.
struct SystemPaths {
    std::string sysfsRoot = "/sys";
    std::string procNetRoot = "/proc/net";

    // Honours ZENTREL_SYSFS_ROOT and ZENTREL_PROC_NET_ROOT.
    static SystemPaths fromEnvironment();
};

// Interfaces carrying a default route, best first: IPv4 by metric, then IPv6 by metric.
// Arguments are the texts of /proc/net/route and /proc/net/ipv6_route.
std::vector<std::string> defaultRouteInterfaces(const std::string &ipv4Routes,
                                                const std::string &ipv6Routes);

// Services in listing order: the one carrying the default route first, then a fixed order.
std::vector<NetworkService> discoverServices(const SystemPaths &paths);

// The text of -listnetworkserviceorder and -listallnetworkservices.
std::string formatServiceOrder(const std::vector<NetworkService> &services);
std::string formatServiceNames(const std::vector<NetworkService> &services);

// Natural order for interface names, so that eth2 sorts before eth10.
bool interfaceNameLess(const std::string &a, const std::string &b);

} // namespace zentrel::networksetup
