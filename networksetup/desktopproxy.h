#pragma once

#include "deadline.h"
#include "proxystate.h"

#include <memory>
#include <string>
#include <vector>

namespace zentrel::networksetup {

// One desktop's system proxy configuration, seen as a few named settings.
class DesktopProxy {
public:
    virtual ~DesktopProxy() = default;

    virtual std::string id() const = 0;    // key in the state file
    virtual std::string label() const = 0; // for messages

    // The current values of every setting that socksSettings() names.
    virtual bool read(SettingMap &current, std::string &error) = 0;
    // Manual proxy through the SOCKS server, with the other protocols' proxies cleared.
    virtual SettingMap socksSettings(const std::string &host, int port) const = 0;
    // Writes the given settings; an absent value removes the user's setting.
    virtual bool write(const SettingMap &values, std::string &error) = 0;
    // Makes the writes take effect: flush them, tell running programs.
    virtual bool finish(std::string &error) = 0;
};

struct DesktopProbe {
    std::vector<std::unique_ptr<DesktopProxy>> backends;
    std::vector<std::string> notes; // why a desktop that looked possible cannot be used
};

// Every desktop proxy configuration present for this user's session. The backends finish
// their work by the deadline or report failure.
DesktopProbe probeDesktops(Deadline deadline);

std::unique_ptr<DesktopProxy> makeGnomeProxy(Deadline deadline, std::string &whyNot);
std::unique_ptr<DesktopProxy> makeKdeProxy(Deadline deadline, std::string &whyNot);
// The backend of that id, whatever the session: a record left by another desktop session is
// restored from here when its settings can be reached.
std::unique_ptr<DesktopProxy> makeDesktopProxy(const std::string &id, Deadline deadline,
                                               std::string &whyNot);

// True when a colon-separated XDG_CURRENT_DESKTOP value names KDE.
bool desktopListIncludesKde(const std::string &xdgCurrentDesktop);
// KDE's "scheme://host port" notation for a manual proxy.
std::string kdeProxyValue(const std::string &scheme, const std::string &host, int port);

} // namespace zentrel::networksetup
