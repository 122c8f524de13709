#include "services.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrel::networksetup {

namespace {

constexpr int arphrdEther = 1;
constexpr int arphrdInfiniband = 32;
constexpr int arphrdLoopback = 772;

// The declaration order is the fixed listing order after the default-route service.
enum class Kind { Ethernet, WiFi, UsbModem, Wwan, BluetoothPan, Bridge, Bond, Vlan, InfiniBand };

const char *kindName(Kind kind) {
    switch (kind) {
    case Kind::Ethernet:
        return "Ethernet";
    case Kind::WiFi:
        return "Wi-Fi";
    case Kind::UsbModem:
        return "USB Modem";
    case Kind::Wwan:
        return "WWAN";
    case Kind::BluetoothPan:
        return "Bluetooth PAN";
    case Kind::Bridge:
        return "Bridge";
    case Kind::Bond:
        return "Bond";
    case Kind::Vlan:
        return "VLAN";
    case Kind::InfiniBand:
        return "InfiniBand";
    }
    return "Network";
}

std::string readSmallFile(const std::string &path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[8192];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

bool present(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string linkBaseName(const std::string &path) {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    std::string text(target, static_cast<size_t>(n));
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

std::vector<std::string> directoryEntries(const std::string &path) {
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    if (!dir)
        return names;
    while (const dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return names;
}

std::string ueventValue(const std::string &uevent, const std::string &key) {
    std::istringstream lines(uevent);
    std::string line;
    const std::string prefix = key + "=";
    while (std::getline(lines, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line.substr(prefix.size());
    }
    return {};
}

bool isUsbModemDriver(const std::string &driver) {
    // Phones tethering over USB and cellular sticks; plain USB Ethernet adapters stay Ethernet.
    static const char *const drivers[] = {"rndis_host", "ipheth",         "cdc_mbim",
                                          "qmi_wwan",   "huawei_cdc_ncm", "sierra_net"};
    return std::any_of(std::begin(drivers), std::end(drivers),
                       [&](const char *d) { return driver == d; });
}

class Scanner {
public:
    explicit Scanner(const SystemPaths &paths) : netDir_(paths.sysfsRoot + "/class/net/") {}

    struct Candidate {
        std::string device;
        Kind kind;
        std::string master;
    };

    std::vector<Candidate> scan() const {
        std::vector<Candidate> found;
        for (const std::string &name : directoryEntries(netDir_)) {
            Kind kind;
            if (classify(name, kind))
                found.push_back({name, kind, linkBaseName(netDir_ + name + "/master")});
        }
        // A port of a listed bridge or bond carries no traffic of its own.
        std::vector<Candidate> services;
        for (const Candidate &c : found) {
            const bool enslaved = !c.master.empty() &&
                                  std::any_of(found.begin(), found.end(),
                                              [&](const auto &o) { return o.device == c.master; });
            if (!enslaved)
                services.push_back(c);
        }
        return services;
    }

private:
    std::string netDir_;

    bool isPhysical(const std::string &name) const { return present(netDir_ + name + "/device"); }

    // Bridges, bonds and VLANs count only when they sit on real hardware, which tells a
    // user's LAN bridge from the ones container and VM tools make for themselves.
    bool hasPhysicalLower(const std::string &name, int depth = 0) const {
        if (depth > 4)
            return false;
        const std::string dir = netDir_ + name;
        std::vector<std::string> lowers = directoryEntries(dir + "/brif");
        for (const std::string &entry : directoryEntries(dir)) {
            if (entry.compare(0, 6, "lower_") == 0)
                lowers.push_back(entry.substr(6));
        }
        return std::any_of(lowers.begin(), lowers.end(), [&](const std::string &lower) {
            return isPhysical(lower) || hasPhysicalLower(lower, depth + 1);
        });
    }

    bool classify(const std::string &name, Kind &kind) const {
        const std::string dir = netDir_ + name;
        const int type = std::atoi(readSmallFile(dir + "/type").c_str());
        if (type == arphrdLoopback)
            return false;
        const std::string devtype = ueventValue(readSmallFile(dir + "/uevent"), "DEVTYPE");

        if (devtype == "wlan" || present(dir + "/wireless") || present(dir + "/phy80211")) {
            kind = Kind::WiFi;
            return true;
        }
        if (devtype == "wwan") {
            kind = Kind::Wwan;
            return true;
        }
        if (devtype == "bluetooth") {
            kind = Kind::BluetoothPan;
            return true;
        }
        if (devtype == "bridge" || present(dir + "/bridge")) {
            kind = Kind::Bridge;
            return hasPhysicalLower(name);
        }
        if (devtype == "bond" || present(dir + "/bonding")) {
            kind = Kind::Bond;
            return hasPhysicalLower(name);
        }
        if (devtype == "vlan") {
            kind = Kind::Vlan;
            return hasPhysicalLower(name);
        }
        // Everything else without a device behind it is software: veth, tun/tap, dummy, ifb,
        // wireguard, vxlan, macvlan and the like.
        if (!isPhysical(name))
            return false;
        if (type == arphrdEther) {
            kind = isUsbModemDriver(linkBaseName(dir + "/device/driver")) ? Kind::UsbModem
                                                                          : Kind::Ethernet;
            return true;
        }
        if (type == arphrdInfiniband) {
            kind = Kind::InfiniBand;
            return true;
        }
        return false;
    }
};

std::vector<std::string> splitFields(const std::string &line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (in >> field)
        fields.push_back(field);
    return fields;
}

struct Route {
    unsigned long metric;
    std::string device;
};

void sortByMetric(std::vector<Route> &routes) {
    std::stable_sort(routes.begin(), routes.end(),
                     [](const Route &a, const Route &b) { return a.metric < b.metric; });
}

} // namespace

SystemPaths SystemPaths::fromEnvironment() {
    SystemPaths paths;
    if (const char *root = std::getenv("ZENTREL_SYSFS_ROOT"); root && *root)
        paths.sysfsRoot = root;
    if (const char *root = std::getenv("ZENTREL_PROC_NET_ROOT"); root && *root)
        paths.procNetRoot = root;
    return paths;
}

std::vector<std::string> defaultRouteInterfaces(const std::string &ipv4Routes,
                                                const std::string &ipv6Routes) {
    constexpr unsigned long rtfUp = 0x1;
    constexpr unsigned long rtfReject = 0x200;
    std::vector<Route> v4, v6;
    std::istringstream lines(ipv4Routes);
    std::string line;
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = splitFields(line);
        if (f.size() < 8 || f[1] != "00000000" || f[7] != "00000000")
            continue;
        const unsigned long flags = std::strtoul(f[3].c_str(), nullptr, 16);
        if ((flags & rtfUp) && !(flags & rtfReject))
            v4.push_back({std::strtoul(f[6].c_str(), nullptr, 10), f[0]});
    }
    std::istringstream lines6(ipv6Routes);
    // dest plen src plen nexthop metric refcnt use flags iface, numbers in hex
    while (std::getline(lines6, line)) {
        const std::vector<std::string> f = splitFields(line);
        if (f.size() < 10 || f[1] != "00" || f[0].find_first_not_of('0') != std::string::npos)
            continue;
        const unsigned long flags = std::strtoul(f[8].c_str(), nullptr, 16);
        if ((flags & rtfUp) && !(flags & rtfReject) && f[9] != "lo")
            v6.push_back({std::strtoul(f[5].c_str(), nullptr, 16), f[9]});
    }
    sortByMetric(v4);
    sortByMetric(v6);
    std::vector<std::string> devices;
    for (const auto *routes : {&v4, &v6}) {
        for (const Route &r : *routes) {
            if (std::find(devices.begin(), devices.end(), r.device) == devices.end())
                devices.push_back(r.device);
        }
    }
    return devices;
}

bool interfaceNameLess(const std::string &a, const std::string &b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = a[i] >= '0' && a[i] <= '9';
        const bool db = b[j] >= '0' && b[j] <= '9';
        if (da && db) {
            size_t ei = a.find_first_not_of("0123456789", i);
            size_t ej = b.find_first_not_of("0123456789", j);
            ei = ei == std::string::npos ? a.size() : ei;
            ej = ej == std::string::npos ? b.size() : ej;
            // Compare digit runs by value: strip leading zeros, then length, then text.
            size_t si = a.find_first_not_of('0', i);
            size_t sj = b.find_first_not_of('0', j);
            si = (si == std::string::npos || si > ei) ? ei : si;
            sj = (sj == std::string::npos || sj > ej) ? ej : sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj;
            const int c = a.compare(si, ei - si, b, sj, ej - sj);
            if (c != 0)
                return c < 0;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b;
}

std::vector<NetworkService> discoverServices(const SystemPaths &paths) {
    std::vector<Scanner::Candidate> found = Scanner(paths).scan();
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        if (a.kind != b.kind)
            return a.kind < b.kind;
        return interfaceNameLess(a.device, b.device);
    });

    // Numbered within each kind by interface name, so names do not move with the routes.
    std::vector<NetworkService> services;
    for (size_t i = 0, count = 0; i < found.size(); ++i) {
        count = (i > 0 && found[i - 1].kind == found[i].kind) ? count + 1 : 1;
        const std::string base = kindName(found[i].kind);
        services.push_back(
            {count == 1 ? base : base + " " + std::to_string(count), base, found[i].device});
    }

    const std::vector<std::string> routed =
        defaultRouteInterfaces(readSmallFile(paths.procNetRoot + "/route"),
                               readSmallFile(paths.procNetRoot + "/ipv6_route"));
    for (const std::string &device : routed) {
        auto it = std::find_if(services.begin(), services.end(),
                               [&](const NetworkService &s) { return s.device == device; });
        if (it != services.end()) {
            std::rotate(services.begin(), it, it + 1);
            break;
        }
    }
    return services;
}

static const char listingHeader[] = "An asterisk (*) denotes that a network service is disabled.\n";

std::string formatServiceOrder(const std::vector<NetworkService> &services) {
    std::string text = listingHeader;
    for (size_t i = 0; i < services.size(); ++i) {
        const NetworkService &s = services[i];
        text += "(" + std::to_string(i + 1) + ") " + s.name + "\n";
        text += "(Hardware Port: " + s.hardwarePort + ", Device: " + s.device + ")\n\n";
    }
    return text;
}

std::string formatServiceNames(const std::vector<NetworkService> &services) {
    std::string text = listingHeader;
    for (const NetworkService &s : services)
        text += s.name + "\n";
    return text;
}

} // namespace zentrel::networksetup
