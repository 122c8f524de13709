#!/bin/bash
# KDE Plasma's proxy in kioslaverc through the real kwriteconfig5/kreadconfig5.
source "$(dirname "$0")/lib.sh" "$1"

export ZENTREL_SYSFS_ROOT="$TMP/sys" ZENTREL_PROC_NET_ROOT="$TMP/proc"
add_iface "$ZENTREL_SYSFS_ROOT" wlp2s0 wifi
set_routes "$ZENTREL_PROC_NET_ROOT" wlp2s0:600
export XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5
export XDG_DATA_DIRS="$TMP/no-schemas" # KDE alone, no GNOME schema beside it
RC="$XDG_CONFIG_HOME/kioslaverc"

kread() { kreadconfig5 --file "$RC" --group "Proxy Settings" --key "$1" --default "(absent)"; }
summary() {
    local key
    for key in ProxyType socksProxy httpProxy httpsProxy ftpProxy; do echo -n "$key=$(kread $key) "; done
}
entries() { grep -v '^$' "$RC" | sort; } # kwriteconfig may reorder lines

# The user's configuration: a PAC script with an HTTP proxy beside it; no SOCKS, HTTPS, FTP.
cat >"$RC" <<'RC'
[Proxy Settings]
NoProxyFor=localhost,127.0.0.1,.corp
Proxy Config Script=http://wpad.corp/proxy.pac
ProxyType=2
httpProxy=http://proxy.corp 3128

[Cache Settings]
MaxCacheSize=5120
RC
before=$(entries)

/bin/bash -c 'networksetup -setsocksfirewallproxy "Wi-Fi" localhost 6969' || fail "address failed"
/bin/bash -c 'networksetup -setsocksfirewallproxystate "Wi-Fi" on' || fail "on failed"
expect_eq "on: manual SOCKS, the rest emptied" \
    "ProxyType=1 socksProxy=socks://localhost 6969 httpProxy= httpsProxy= ftpProxy= " "$(summary)"
expect_eq "on: exceptions stay" "localhost,127.0.0.1,.corp" "$(kread NoProxyFor)"
/bin/bash -c 'networksetup -setsocksfirewallproxystate "Wi-Fi" off' || fail "off failed"
expect_eq "off: file as before, no stale keys" "$before" "$(entries)"

# With a session bus, running KIO workers are told to reread their configuration.
cat >"$TMP/bus-check.sh" <<'SH'
dbus-monitor --session "type='signal',interface='org.kde.KIO.Scheduler'" >"$1" 2>&1 &
monitor=$!
for _ in $(seq 100); do grep -q NameAcquired "$1" && break; sleep 0.1; done
networksetup -setsocksfirewallproxystate Wi-Fi on
for _ in $(seq 100); do grep -q reparseSlaveConfiguration "$1" && break; sleep 0.1; done
kill "$monitor"
SH
dbus-run-session -- bash "$TMP/bus-check.sh" "$TMP/monitor.log" 2>"$TMP/dbus-daemon.log"
grep -q "interface=org.kde.KIO.Scheduler; member=reparseSlaveConfiguration" "$TMP/monitor.log" ||
    fail "no reparseSlaveConfiguration signal: $(cat "$TMP/monitor.log")"
networksetup -setsocksfirewallproxystate Wi-Fi off

# KDE 6 tools are preferred in a Plasma 6 session and the 5 ones serve when they are missing.
mkdir -p "$TMP/kde6"
for tool in kreadconfig kwriteconfig; do
    printf '#!/bin/bash\necho "%s6 $*" >>"%s"\nexec %s5 "$@"\n' "$tool" "$TMP/kde6.log" "$tool" \
        >"$TMP/kde6/${tool}6"
    chmod +x "$TMP/kde6/${tool}6"
done
PATH="$TMP/kde6:$PATH" KDE_SESSION_VERSION=6 networksetup -setsocksfirewallproxystate Wi-Fi on
grep -q "^kwriteconfig6 " "$TMP/kde6.log" || fail "KDE 6 session did not use kwriteconfig6"
KDE_SESSION_VERSION=6 networksetup -setsocksfirewallproxystate Wi-Fi off ||
    fail "KDE 6 session without kwriteconfig6 failed"
expect_eq "KDE 6 cycle restores" "$before" "$(entries)"

finish
