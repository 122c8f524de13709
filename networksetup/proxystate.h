#pragma once

#include "deadline.h"

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

// The file ends with a line holding a checksum of everything before it, so that a file cut
// short, even at a line boundary, is never taken for a whole one.
std::string serializeState(const ProxyState &state);
std::string withEndLine(const std::string &body);
bool parseState(const std::string &text, ProxyState &state, std::string &error);

// The state file in the user's own private state folder, guarded by a lock file so that
// concurrent invocations serialise their read-modify-write. Anything in the folder that we
// did not make (a link, a pipe, a huge file, a folder others can write to) is refused.
class StateStore {
public:
    static constexpr long long maxFileSize = 1 << 20;

    explicit StateStore(std::string directory);
    ~StateStore();
    StateStore(const StateStore &) = delete;
    StateStore &operator=(const StateStore &) = delete;

    // $XDG_STATE_HOME/zentrel-vpn, or ~/.local/state/zentrel-vpn.
    static std::string defaultDirectory();

    const std::string &statePath() const { return statePath_; }

    // Creates the folder when missing; fails when another process holds the lock past the
    // deadline.
    bool lock(Deadline deadline, std::string &error);
    bool load(ProxyState &state, std::string &error);
    bool save(const ProxyState &state, std::string &error);

private:
    std::string directory_;
    std::string statePath_;
    int directoryFd_ = -1;
    int lockFd_ = -1;
    // What the file holds as far as we know, having read or written it under the lock: saving
    // the same again is skipped.
    std::string knownText_;

    bool openDirectory(bool create, std::string &error);
};

} // namespace zentrel::networksetup
