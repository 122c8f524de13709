#include "desktopproxy.h"

#include <cstdlib>

namespace zentrel::networksetup {

bool desktopListIncludesKde(const std::string &xdgCurrentDesktop) {
    size_t start = 0;
    while (start <= xdgCurrentDesktop.size()) {
        size_t end = xdgCurrentDesktop.find(':', start);
        if (end == std::string::npos)
            end = xdgCurrentDesktop.size();
        if (xdgCurrentDesktop.compare(start, end - start, "KDE") == 0)
            return true;
        start = end + 1;
    }
    return false;
}

DesktopProbe probeDesktops(Deadline deadline) {
    DesktopProbe probe;
    std::string whyNot;
    // Not only GNOME reads these: Cinnamon, MATE-era GIO apps and browsers on other desktops
    // take the system proxy from them, so they are set wherever the schema is installed.
    if (auto gnome = makeGnomeProxy(deadline, whyNot))
        probe.backends.push_back(std::move(gnome));
    else if (!whyNot.empty())
        probe.notes.push_back(whyNot);

    const char *desktop = std::getenv("XDG_CURRENT_DESKTOP");
    if (desktop && desktopListIncludesKde(desktop)) {
        whyNot.clear();
        if (auto kde = makeKdeProxy(deadline, whyNot))
            probe.backends.push_back(std::move(kde));
        else
            probe.notes.push_back("the session is KDE but " + whyNot);
    }
    return probe;
}

std::unique_ptr<DesktopProxy> makeDesktopProxy(const std::string &id, Deadline deadline,
                                               std::string &whyNot) {
    std::unique_ptr<DesktopProxy> backend;
    if (id == "gnome")
        backend = makeGnomeProxy(deadline, whyNot);
    else if (id == "kde")
        backend = makeKdeProxy(deadline, whyNot);
    if (!backend && whyNot.empty())
        whyNot = id == "gnome" ? "the GNOME proxy schema is not installed" : "unknown desktop";
    return backend;
}

std::string kdeProxyValue(const std::string &scheme, const std::string &host, int port) {
    const bool ipv6Literal = host.find(':') != std::string::npos && host[0] != '[';
    return scheme + "://" + (ipv6Literal ? "[" + host + "]" : host) + " " + std::to_string(port);
}

} // namespace zentrel::networksetup
