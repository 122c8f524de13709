#pragma once

#include <map>
#include <string>

namespace zentrel::networksetup {

struct ServiceProxy {
    std::string host;
    int port = 0;
    bool enabled = false;
    unsigned long long switchedAt = 0; // the most recently switched service wins the desktop
};

// A desktop setting as a backend reads or writes it: absent means "not set by the user".
struct SettingValue {
    bool present = false;
    std::string value;

    bool operator==(const SettingValue &o) const {
        return present == o.present && value == o.value;
    }
    bool operator!=(const SettingValue &o) const { return !(*this == o); }
};
using SettingMap = std::map<std::string, SettingValue>;

// What we did to one desktop's proxy settings while a service is on.
struct DesktopRecord {
    SettingMap saved;   // the user's values before we switched, restored at the end
    SettingMap written; // what we put there, to notice the user changing it meanwhile
};

struct ProxyState {
    std::map<std::string, ServiceProxy> services;
    std::map<std::string, DesktopRecord> desktops; // by backend id
    unsigned long long clock = 0;

    // The enabled service the desktop follows, or nullptr when all are off.
    const ServiceProxy *activeService() const;
};

// Writes all of data to fd, resuming after short or interrupted writes.
bool writeAll(int fd, const std::string &data);

std::string serializeState(const ProxyState &state);
bool parseState(const std::string &text, ProxyState &state, std::string &error);

// The state file under the user's XDG state directory, guarded by a lock file so that
// concurrent invocations serialise their read-modify-write.
class StateStore {
public:
    explicit StateStore(std::string directory);
    ~StateStore();
    StateStore(const StateStore &) = delete;
    StateStore &operator=(const StateStore &) = delete;

    // $XDG_STATE_HOME/zentrel-vpn, or ~/.local/state/zentrel-vpn.
    static std::string defaultDirectory();

    const std::string &statePath() const { return statePath_; }

    bool lock(std::string &error); // blocks until this process holds the lock
    bool load(ProxyState &state, std::string &error) const;
    bool save(const ProxyState &state, std::string &error) const;

private:
    std::string directory_;
    std::string statePath_;
    int lockFd_ = -1;
};

} // namespace zentrel::networksetup
