#include "follow.h"

#include "desktopproxy.h"

#include <algorithm>
#include <optional>

namespace zentrel::networksetup {

SettingMap changesFrom(const SettingMap &current, const SettingMap &wanted) {
    SettingMap changes;
    for (const auto &[key, value] : wanted) {
        auto it = current.find(key);
        if (it == current.end() || it->second != value)
            changes[key] = value;
    }
    return changes;
}

SettingMap restoreChanges(const DesktopRecord &record, const SettingMap &current) {
    SettingMap changes;
    for (const auto &[key, ours] : record.written) {
        auto now = current.find(key);
        auto saved = record.saved.find(key);
        if (now != current.end() && now->second == ours && saved != record.saved.end() &&
            saved->second != ours)
            changes[key] = saved->second;
    }
    return changes;
}

void adoptUserChanges(DesktopRecord &record, const SettingMap &current) {
    for (const auto &[key, value] : current) {
        auto ours = record.written.find(key);
        if (ours == record.written.end() || ours->second != value)
            record.saved[key] = value;
    }
}

namespace {

bool apply(DesktopProxy &backend, const SettingMap &changes, std::string &error) {
    return changes.empty() || (backend.write(changes, error) && backend.finish(error));
}

void switchTo(DesktopProxy &backend, const ServiceProxy &active, bool reassert, ProxyState &state,
              StateStore &store, FollowOutcome &outcome) {
    std::string error;
    SettingMap before;
    if (!backend.read(before, error)) {
        outcome.problems.push_back(backend.label() + ": " + error);
        return;
    }
    const SettingMap wanted = backend.socksSettings(active.host, active.port);
    std::optional<DesktopRecord> previous;
    if (auto found = state.desktops.find(backend.id()); found != state.desktops.end()) {
        if (!reassert && changesFrom(found->second.written, wanted).empty())
            return;
        previous = found->second;
    }
    // Keys still holding what we wrote keep what they held before us; a new record takes all.
    DesktopRecord &record = state.desktops[backend.id()];
    adoptUserChanges(record, before);
    record.written = wanted;
    const auto putBack = [&] {
        if (previous)
            state.desktops[backend.id()] = *previous;
        else
            state.desktops.erase(backend.id());
    };
    // On disk before the desktop changes, so that a crash cannot lose what to go back to.
    if (!store.save(state, error)) {
        putBack();
        outcome.problems.push_back(error);
        return;
    }
    const SettingMap changes = changesFrom(before, wanted);
    if (apply(backend, changes, error)) {
        outcome.changedDesktop = true;
        return;
    }
    // Undo what this command did, at once: the desktop is left as it was before it.
    SettingMap now;
    std::string undoError;
    if (backend.read(now, undoError) &&
        apply(backend, restoreChanges({before, changes}, now), undoError)) {
        putBack();
        outcome.problems.push_back(backend.label() + ": " + error +
                                   "; the proxy settings were left as they were");
    } else {
        outcome.changedDesktop = true;
        outcome.problems.push_back(backend.label() + ": " + error +
                                   "; what was changed is put back at the next \"off\"");
    }
}

void restore(DesktopProxy &backend, ProxyState &state, FollowOutcome &outcome) {
    auto record = state.desktops.find(backend.id());
    if (record == state.desktops.end())
        return;
    std::string error;
    SettingMap current;
    if (backend.read(current, error) &&
        apply(backend, restoreChanges(record->second, current), error)) {
        state.desktops.erase(record);
        return;
    }
    // The record stays: the next "off" puts back whatever still holds our values.
    outcome.changedDesktop = true;
    outcome.problems.push_back(backend.label() + ": " + error);
}

} // namespace

FollowOutcome followDesktops(ProxyState &state, StateStore &store, bool reassert,
                             Deadline deadline) {
    FollowOutcome outcome;
    DesktopProbe probe = probeDesktops(deadline);
    const ServiceProxy *active = state.activeService();
    if (!active) {
        // Records left by another desktop session: restored from here when reachable.
        for (const auto &entry : state.desktops) {
            const std::string &id = entry.first;
            if (std::any_of(probe.backends.begin(), probe.backends.end(),
                            [&](const auto &b) { return b->id() == id; }))
                continue;
            std::string whyNot;
            if (auto backend = makeDesktopProxy(id, deadline, whyNot))
                probe.backends.push_back(std::move(backend));
            else
                outcome.notes.push_back("the " + id +
                                        " proxy settings were switched from another desktop "
                                        "session and cannot be restored here (" +
                                        whyNot + "); they are restored from that session");
        }
    }

    outcome.desktopFound = !probe.backends.empty();
    if (!outcome.desktopFound) {
        std::string why = "no desktop proxy settings found (no GNOME proxy schema installed and "
                          "the session is not KDE)";
        for (const std::string &note : probe.notes)
            why += "; " + note;
        outcome.problems.push_back(why);
    }
    for (const auto &backend : probe.backends) {
        if (active)
            switchTo(*backend, *active, reassert, state, store, outcome);
        else
            restore(*backend, state, outcome);
    }
    // Saved on every path: a request is recorded even where no desktop follows it.
    std::string error;
    if (!store.save(state, error))
        outcome.problems.push_back(error);
    return outcome;
}

} // namespace zentrel::networksetup
