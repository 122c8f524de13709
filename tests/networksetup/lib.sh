# Shared by the networksetup test scripts: sourced, never run.
# Usage: source lib.sh /path/to/networksetup
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/testlib.sh"

NETWORKSETUP=$(readlink -f "$1")
# Never the real user's settings: HOME, the XDG folders and the scratch folder are with-own-home's.
TMP=${ZENTREL_OWN_HOME:?run me through tests/support/with-own-home}/tmp
AT_EXIT=()
trap 'for step in "${AT_EXIT[@]}"; do eval "$step"; done' EXIT
mkdir "$TMP/bin"
ln -s "$NETWORKSETUP" "$TMP/bin/networksetup"
export PATH="$TMP/bin:$PATH"
STATE="$XDG_STATE_HOME/zentrel-vpn/proxy-state"
KEYFILE="$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"
snapshot() { cat "$STATE" "$KEYFILE" 2>/dev/null | md5sum; } # what a refusal must leave alone

# expect_refused WHAT PATTERN COMMAND...: a non-zero exit (in STATUS), one line on stderr saying
# PATTERN, and nothing that snapshot sees changed.
expect_refused() {
    local what=$1 pattern=$2 err before
    shift 2
    before=$(snapshot)
    err=$("$@" 2>&1 >/dev/null) && fail "$what: accepted"
    STATUS=$?
    [[ $err == *$pattern* && $(wc -l <<<"$err") == 1 ]] || fail "$what: unclear message: $err"
    expect_eq "$what: nothing changed" "$before" "$(snapshot)"
}

# The application's own command texts, character for character.
proxy_address() { /bin/bash -c "networksetup -setsocksfirewallproxy \"$1\" localhost $2"; }
proxy_on() { /bin/bash -c "networksetup -setsocksfirewallproxystate \"$1\" on"; }
proxy_off() { /bin/bash -c "networksetup -setsocksfirewallproxystate \"$1\" off"; }
gnome_proxy() { gsettings list-recursively org.gnome.system.proxy | sort; }

# A private session bus for the rest of the script (services such as dconf start on demand).
start_session_bus() {
    local pid
    { read -r DBUS_SESSION_BUS_ADDRESS && read -r pid; } < <(dbus-daemon --session --fork \
        --print-address=1 --print-pid=1 2>>"$TMP/dbus-daemon.log")
    export DBUS_SESSION_BUS_ADDRESS
    AT_EXIT+=("kill $pid")
}

# A laptop with one Wi-Fi service that carries the default route.
use_wifi_laptop() {
    export ZENTREL_SYSFS_ROOT="$TMP/sys" ZENTREL_PROC_NET_ROOT="$TMP/proc"
    add_iface "$ZENTREL_SYSFS_ROOT" wlp2s0 wifi
    set_routes "$ZENTREL_PROC_NET_ROOT" wlp2s0:600
}
