#pragma once

#include "deadline.h"
#include "proxystate.h"

#include <string>
#include <vector>

namespace zentrel::networksetup {

// Settings of `wanted` that `current` does not hold yet.
SettingMap changesFrom(const SettingMap &current, const SettingMap &wanted);

// Key by key, what gives the user back their own: a setting still holding what we wrote gets
// its saved value back; a setting changed since stays as it is; one we never wrote is left out.
SettingMap restoreChanges(const DesktopRecord &record, const SettingMap &current);

// Before switching again over a record: settings changed since we wrote them become the
// values to go back to; those still holding ours keep the values saved before.
void adoptUserChanges(DesktopRecord &record, const SettingMap &current);

struct FollowOutcome {
    bool desktopFound = false;         // some desktop's proxy settings could be reached
    bool changedDesktop = false;       // something of ours is in a desktop's settings now
    std::vector<std::string> problems; // each one line: what was not done, and why
    std::vector<std::string> notes;    // worth saying, but nothing failed
};

// Brings every desktop's proxy in line with the services' state and saves the state.
// `reassert` is set when the user has just asked for a proxy; otherwise a desktop already
// showing our last values, or the user's own change to them, is left alone.
FollowOutcome followDesktops(ProxyState &state, StateStore &store, bool reassert,
                             Deadline deadline);

} // namespace zentrel::networksetup
