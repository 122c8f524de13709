# Shared by the networksetup test scripts: sourced, never run.
# Usage: source lib.sh /path/to/networksetup
set -u

NETWORKSETUP=$(readlink -f "$1")
TMP=$(mktemp -d)
AT_EXIT=()
trap 'for step in "${AT_EXIT[@]}"; do eval "$step"; done; rm -rf "$TMP"' EXIT

# Never the real user's settings: every XDG location and HOME point into the scratch dir.
export HOME="$TMP/home" XDG_CONFIG_HOME="$TMP/config" XDG_STATE_HOME="$TMP/state"
export XDG_DATA_HOME="$TMP/data" XDG_RUNTIME_DIR="$TMP/run" GSETTINGS_BACKEND=keyfile
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
unset XDG_CURRENT_DESKTOP KDE_SESSION_VERSION DBUS_SESSION_BUS_ADDRESS GSETTINGS_SCHEMA_DIR
mkdir -p "$TMP/bin"
ln -s "$NETWORKSETUP" "$TMP/bin/networksetup"
export PATH="$TMP/bin:$PATH"

STATE="$XDG_STATE_HOME/zentrel-vpn/proxy-state"

FAILURES=0
fail() {
    echo "FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}
expect_eq() { # what expected actual
    if [[ "$2" != "$3" ]]; then
        fail "$1"$'\n'"  expected: $(printf %q "$2")"$'\n'"  actual:   $(printf %q "$3")"
    fi
}
# expect_refused WHAT PATTERN COMMAND...: a non-zero exit and one line on stderr saying PATTERN.
expect_refused() {
    local what=$1 pattern=$2 err
    shift 2
    err=$("$@" 2>&1 >/dev/null) && fail "$what: accepted"
    [[ $err == *$pattern* && $(wc -l <<<"$err") == 1 ]] || fail "$what: unclear message: $err"
}
finish() {
    if ((FAILURES)); then
        echo "$FAILURES check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}

# The application's own command texts, character for character.
proxy_address() { /bin/bash -c "networksetup -setsocksfirewallproxy \"$1\" localhost $2"; }
proxy_on() { /bin/bash -c "networksetup -setsocksfirewallproxystate \"$1\" on"; }
proxy_off() { /bin/bash -c "networksetup -setsocksfirewallproxystate \"$1\" off"; }

detect_wifi() {
    /bin/bash -c "networksetup -listnetworkserviceorder | grep -B1 'Hardware Port: Wi-Fi' | sed -n -e 's/([0-9]\{1,\}) \(.*\)/\1/p'" 2>&1
}
list_services() {
    /bin/bash -c "networksetup -listnetworkserviceorder | sed -n -e 's/([0-9]\{1,\}) \(.*\)/\1/p'" 2>&1
}

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

# A fake sysfs laid out like the kernel's: class/net/NAME links into devices/.
# add_iface ROOT NAME KIND [ARG], KIND one of:
#   ethernet | wifi | usbmodem   hardware behind it (ARG: driver name)
#   loopback | virtual           software only (ARG: DEVTYPE, e.g. "" for veth, dummy, ifb)
#   bridge PORTS                 a bridge over the given space-separated ports
add_iface() {
    local root=$1 name=$2 kind=$3 arg=${4:-} dir type=1 devtype=""
    case $kind in
    ethernet | wifi | usbmodem)
        BUS_SLOT=$((${BUS_SLOT:-0} + 1))
        local bus="pci0000:00/0000:00:$(printf %02x "$BUS_SLOT").0"
        dir="$root/devices/$bus/net/$name"
        mkdir -p "$dir" "$root/bus/drivers/${arg:-e1000e}"
        ln -s ../.. "$dir/device"
        ln -sfn "$root/bus/drivers/${arg:-e1000e}" "$root/devices/$bus/driver"
        if [[ $kind == wifi ]]; then
            devtype=wlan
            mkdir -p "$dir/wireless" "$root/devices/ieee80211/phy0"
            ln -s "$root/devices/ieee80211/phy0" "$dir/phy80211"
        fi
        ;;
    loopback)
        dir="$root/devices/virtual/net/$name" type=772
        mkdir -p "$dir"
        ;;
    virtual)
        dir="$root/devices/virtual/net/$name" devtype=$arg
        mkdir -p "$dir"
        ;;
    bridge)
        dir="$root/devices/virtual/net/$name" devtype=bridge
        mkdir -p "$dir/bridge" "$dir/brif"
        local port
        for port in $arg; do
            ln -s "../../$port/brport" "$dir/brif/$port"
            ln -s "../$name" "$root/class/net/$port/master"
        done
        ;;
    esac
    echo "$type" >"$dir/type"
    echo "INTERFACE=$name" >"$dir/uevent"
    [[ -z $devtype ]] || echo "DEVTYPE=$devtype" >>"$dir/uevent"
    mkdir -p "$root/class/net"
    ln -s "../../${dir#"$root"/}" "$root/class/net/$name"
}

# Writes ROOT/route and ROOT/ipv6_route with default routes "IFACE:METRIC" (IPv4 only).
set_routes() {
    local root=$1 route
    shift
    mkdir -p "$root"
    printf 'Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n' >"$root/route"
    for route in "$@"; do
        printf '%s\t00000000\t0100A8C0\t0003\t0\t0\t%s\t00000000\t0\t0\t0\n' \
            "${route%%:*}" "${route##*:}" >>"$root/route"
        printf '%s\t0000A8C0\t00000000\t0001\t0\t0\t%s\t00FFFFFF\t0\t0\t0\n' \
            "${route%%:*}" "${route##*:}" >>"$root/route"
    done
    : >"$root/ipv6_route"
}
