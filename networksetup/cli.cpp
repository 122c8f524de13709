#include "cli.h"

#include "desktopproxy.h"
#include "proxystate.h"
#include "services.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <strings.h>
#include <unistd.h>

namespace zentrel::networksetup {

namespace {

const char usageText[] =
    "Usage: networksetup <command> [arguments]\n"
    "\n"
    "  -listnetworkserviceorder\n"
    "        List the network services in order, with hardware port and device.\n"
    "  -listallnetworkservices\n"
    "        List the names of the network services.\n"
    "  -getsocksfirewallproxy <networkservice>\n"
    "        Show the SOCKS proxy of a network service.\n"
    "  -setsocksfirewallproxy <networkservice> <domain> <port number>\n"
    "        Set the SOCKS proxy server of a network service.\n"
    "  -setsocksfirewallproxystate <networkservice> <on off>\n"
    "        Switch the SOCKS proxy of a network service on or off.\n"
    "  -help\n"
    "        Show this text.\n"
    "\n"
    "The desktop has one system proxy for all services. While any service's SOCKS proxy is\n"
    "on, it uses the server of the service switched last; when the last one goes off, the\n"
    "desktop's earlier proxy settings come back unless they were changed in the meantime.\n";

void writeOut(const std::string &text) {
    writeAll(STDOUT_FILENO, text);
}

int fail(int code, const std::string &message) {
    std::fprintf(stderr, "networksetup: %s\n", message.c_str());
    return code;
}

std::string quoted(const std::string &text) {
    return "\"" + text + "\"";
}

bool isListed(const std::string &service) {
    const auto services = discoverServices(SystemPaths::fromEnvironment());
    return std::any_of(services.begin(), services.end(),
                       [&](const NetworkService &s) { return s.name == service; });
}

int unknownService(const std::string &service) {
    return fail(exitBadUsage, "no network service named " + quoted(service) +
                                  " (see networksetup -listallnetworkservices)");
}

bool validHost(const std::string &host) {
    return !host.empty() && std::none_of(host.begin(), host.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
    });
}

SettingMap differing(const SettingMap &wanted, const SettingMap &current) {
    SettingMap changes;
    for (const auto &[key, value] : wanted) {
        auto it = current.find(key);
        if (it == current.end() || it->second != value)
            changes[key] = value;
    }
    return changes;
}

bool matches(const SettingMap &current, const SettingMap &expected) {
    return differing(expected, current).empty();
}

// Brings every desktop's proxy in line with the services' state. `reassert` is set when the
// user has just asked for a proxy; otherwise a desktop already showing our last values, or
// the user's own change to them, is left alone.
bool followDesktops(ProxyState &state, const StateStore &store, bool reassert,
                    std::vector<std::string> &problems) {
    const DesktopProbe probe = probeDesktops();
    if (probe.backends.empty()) {
        std::string why = "no desktop proxy settings found (no GNOME proxy schema installed and "
                          "the session is not KDE)";
        for (const std::string &note : probe.notes)
            why += "; " + note;
        problems.push_back(why);
        // The request is still recorded: switching off later must find it.
        std::string error;
        if (!store.save(state, error))
            problems.push_back(error);
        return false;
    }

    const ServiceProxy *active = state.activeService();
    for (const auto &backend : probe.backends) {
        auto record = state.desktops.find(backend->id());
        if (!active && record == state.desktops.end())
            continue;
        std::string error;
        SettingMap current;
        if (!backend->read(current, error)) {
            problems.push_back(backend->label() + ": " + error);
            continue;
        }

        if (active) {
            const SettingMap wanted = backend->socksSettings(active->host, active->port);
            if (record == state.desktops.end()) {
                record = state.desktops.emplace(backend->id(), DesktopRecord{current, {}}).first;
            } else if (!reassert && matches(wanted, record->second.written)) {
                continue;
            } else if (!matches(current, record->second.written)) {
                // Changed by the user while we were on: theirs is what to go back to.
                record->second.saved = current;
            }
            record->second.written = wanted;
            // The snapshot goes to disk before the desktop changes, so a crash cannot lose it.
            if (!store.save(state, error) || !backend->write(differing(wanted, current), error) ||
                !backend->finish(error)) {
                problems.push_back(backend->label() + ": " + error);
            }
        } else {
            // Anything but exactly our values means the user has set the proxy since: it stays.
            if (matches(current, record->second.written)) {
                if (!backend->write(differing(record->second.saved, current), error) ||
                    !backend->finish(error)) {
                    problems.push_back(backend->label() + ": " + error);
                    continue; // keep the snapshot for another try
                }
            }
            state.desktops.erase(record);
        }
    }

    if (!active) {
        for (const auto &entry : state.desktops) {
            problems.push_back("the " + entry.first +
                               " proxy settings were switched from another desktop session and "
                               "are restored only from there");
        }
    }
    std::string error;
    if (!store.save(state, error))
        problems.push_back(error);
    return problems.empty();
}

struct Session {
    StateStore store{StateStore::defaultDirectory()};
    ProxyState state;

    bool open(std::string &error) { return store.lock(error) && store.load(state, error); }
};

int applyToDesktops(Session &session, const std::string &service, bool reassert) {
    std::vector<std::string> problems;
    if (followDesktops(session.state, session.store, reassert, problems))
        return exitOk;
    for (const std::string &problem : problems)
        fail(exitFailed, problem);
    return fail(exitFailed, "the SOCKS proxy of " + quoted(service) +
                                " was recorded but the desktop's proxy may not follow it");
}

int setServer(const std::string &service, const std::string &host, const std::string &portText) {
    int port = 0;
    if (!validHost(host))
        return fail(exitBadUsage, "invalid SOCKS server " + quoted(host) +
                                      ": give a host name or address without blanks");
    if (!parsePort(portText, port))
        return fail(exitBadUsage,
                    "invalid port " + quoted(portText) + ": give a whole number from 1 to 65535");
    if (!isListed(service))
        return unknownService(service);

    Session session;
    std::string error;
    if (!session.open(error))
        return fail(exitFailed, error);
    ServiceProxy &proxy = session.state.services[service];
    proxy.host = host;
    proxy.port = port;
    if (proxy.enabled) {
        proxy.switchedAt = ++session.state.clock;
        return applyToDesktops(session, service, true); // saves the state on every path
    }
    return session.store.save(session.state, error) ? exitOk : fail(exitFailed, error);
}

int setState(const std::string &service, const std::string &onOff) {
    if (onOff != "on" && onOff != "off")
        return fail(exitBadUsage, "invalid state " + quoted(onOff) + ": give on or off");
    const bool on = onOff == "on";
    const bool listed = isListed(service);
    if (on && !listed)
        return unknownService(service);

    Session session;
    std::string error;
    if (!session.open(error))
        return fail(exitFailed, error);
    auto entry = session.state.services.find(service);
    // A service whose interface has gone (a dongle pulled out) can still be switched off.
    if (!listed && entry == session.state.services.end())
        return unknownService(service);
    if (on) {
        if (entry == session.state.services.end() || entry->second.host.empty())
            return fail(exitBadUsage, "no SOCKS server set for " + quoted(service) +
                                          " (set one with -setsocksfirewallproxy first)");
        entry->second.enabled = true;
        entry->second.switchedAt = ++session.state.clock;
    } else if (entry != session.state.services.end()) {
        entry->second.enabled = false;
    }
    return applyToDesktops(session, service, on); // saves the state on every path
}

int getServer(const std::string &service) {
    // Reading needs no lock: the state file is only ever replaced whole.
    StateStore store(StateStore::defaultDirectory());
    ProxyState state;
    std::string error;
    if (!store.load(state, error))
        return fail(exitFailed, error);
    auto entry = state.services.find(service);
    if (entry == state.services.end() && !isListed(service))
        return unknownService(service);
    const ServiceProxy proxy = entry == state.services.end() ? ServiceProxy() : entry->second;
    writeOut(std::string("Enabled: ") + (proxy.enabled ? "Yes" : "No") + "\nServer: " + proxy.host +
             "\nPort: " + std::to_string(proxy.port) + "\nAuthenticated Proxy Enabled: 0\n");
    return exitOk;
}

bool commandIs(const std::string &arg, const char *name) {
    return strcasecmp(arg.c_str(), name) == 0;
}

} // namespace

bool parsePort(const std::string &text, int &port) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const size_t start = std::min(text.find_first_not_of('0'), text.size());
    if (text.size() - start > 5)
        return false;
    const long value = std::strtol(text.c_str() + start, nullptr, 10);
    if (value < 1 || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}

int run(const std::vector<std::string> &args) {
    if (args.empty()) {
        std::fputs(usageText, stderr);
        return exitBadUsage;
    }
    const std::string &command = args[0];
    const size_t given = args.size() - 1;
    struct Arity {
        const char *name;
        size_t count;
        const char *operands;
    };
    static const Arity commands[] = {
        {"-listnetworkserviceorder", 0, ""},
        {"-listallnetworkservices", 0, ""},
        {"-getsocksfirewallproxy", 1, " <networkservice>"},
        {"-setsocksfirewallproxy", 3, " <networkservice> <domain> <port number>"},
        {"-setsocksfirewallproxystate", 2, " <networkservice> <on off>"},
    };
    for (const Arity &c : commands) {
        if (!commandIs(command, c.name))
            continue;
        if (given != c.count) {
            return fail(exitBadUsage, std::string(given < c.count ? "missing" : "extra") +
                                          " argument: usage is networksetup " + c.name +
                                          c.operands);
        }
    }

    if (commandIs(command, "-listnetworkserviceorder")) {
        writeOut(formatServiceOrder(discoverServices(SystemPaths::fromEnvironment())));
        return exitOk;
    }
    if (commandIs(command, "-listallnetworkservices")) {
        writeOut(formatServiceNames(discoverServices(SystemPaths::fromEnvironment())));
        return exitOk;
    }
    if (commandIs(command, "-getsocksfirewallproxy"))
        return getServer(args[1]);
    if (commandIs(command, "-setsocksfirewallproxy"))
        return setServer(args[1], args[2], args[3]);
    if (commandIs(command, "-setsocksfirewallproxystate"))
        return setState(args[1], args[2]);
    if (commandIs(command, "-help") || commandIs(command, "-h") || commandIs(command, "--help")) {
        writeOut(usageText);
        return exitOk;
    }
    std::fprintf(stderr, "networksetup: unknown command %s\n\n%s", quoted(command).c_str(),
                 usageText);
    return exitBadUsage;
}

} // namespace zentrel::networksetup
