#include "cli.h"

#include "address.h"
#include "follow.h"
#include "proxystate.h"
#include "services.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
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
    "  -version\n"
    "        Show the version of this program.\n"
    "\n"
    "The desktop has one system proxy for all services. While any service's SOCKS proxy is\n"
    "on, it uses the server of the service switched last; when the last one goes off, each\n"
    "of the desktop's earlier proxy settings comes back unless it was changed meanwhile.\n";

void writeOut(const std::string &text) {
    writeAll(STDOUT_FILENO, text);
}

int fail(int code, const std::string &message) {
    std::fprintf(stderr, "networksetup: %s\n", message.c_str());
    return code;
}

// Arguments echoed in messages: bytes that could garble a terminal are shown escaped.
std::string printable(const std::string &text) {
    if (isValidUtf8(text) && std::none_of(text.begin(), text.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        }))
        return text;
    std::string out;
    for (unsigned char c : text) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += c >= 0x20 && c < 0x7f ? std::string(1, static_cast<char>(c)) : hex;
    }
    return out;
}

std::string quoted(const std::string &text) {
    return "\"" + printable(text) + "\"";
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

// The whole command ends well within the 10 s after which the application kills it; the
// lock waits less, so that the desktop's tools have time left.
constexpr std::chrono::seconds commandTime{8};
constexpr std::chrono::seconds lockTime{3};

struct Session {
    Deadline deadline = deadlineIn(commandTime);
    StateStore store{StateStore::defaultDirectory()};
    ProxyState state;

    bool open(std::string &error) {
        return store.lock(earlier(deadline, deadlineIn(lockTime)), error) &&
               store.load(state, error);
    }
};

// A request the desktop refused, with nothing of ours left there, changes nothing at all:
// the state goes back to what it was before the command.
int applyToDesktops(Session &session, const std::string &service, bool reassert,
                    const ProxyState &before) {
    const FollowOutcome outcome =
        followDesktops(session.state, session.store, reassert, session.deadline);
    for (const std::string &note : outcome.notes)
        std::fprintf(stderr, "networksetup: note: %s\n", note.c_str());
    if (outcome.problems.empty())
        return exitOk;
    for (const std::string &problem : outcome.problems)
        fail(exitFailed, problem);
    std::string error;
    if (reassert && outcome.desktopFound && !outcome.changedDesktop &&
        !session.store.save(before, error))
        fail(exitFailed, error);
    if (!outcome.desktopFound)
        fail(exitFailed, "the SOCKS proxy of " + quoted(service) +
                             " was recorded but the desktop's proxy does not follow it");
    return exitFailed;
}

int setServer(const std::string &service, const std::string &host, const std::string &portText) {
    int port = 0;
    if (!isHostNameOrAddress(host))
        return fail(exitBadUsage,
                    "invalid SOCKS server " + quoted(host) + ": give a host name or an IP address");
    if (!parsePort(portText, port))
        return fail(exitBadUsage,
                    "invalid port " + quoted(portText) + ": give a whole number from 1 to 65535");
    if (!isListed(service))
        return unknownService(service);

    Session session;
    std::string error;
    if (!session.open(error))
        return fail(exitFailed, error);
    const ProxyState before = session.state;
    ServiceProxy &proxy = session.state.services[service];
    proxy.host = host;
    proxy.port = port;
    // Only recorded while the service is off: no desktop is looked at, so GIO is never loaded.
    if (proxy.enabled) {
        proxy.switchedAt = ++session.state.clock;
        return applyToDesktops(session, service, true, before); // saves the state on every path
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
    const ProxyState before = session.state;
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
    return applyToDesktops(session, service, on, before); // saves the state on every path
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
    if (commandIs(command, "-version") || commandIs(command, "--version")) {
        writeOut("networksetup (Zentrel VPN) " ZENTREL_VERSION "\n");
        return exitOk;
    }
    std::fprintf(stderr, "networksetup: unknown command %s\n\n%s", quoted(command).c_str(),
                 usageText);
    return exitBadUsage;
}

} // namespace zentrel::networksetup
