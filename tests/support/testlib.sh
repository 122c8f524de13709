#!/bin/bash
# Shared by the shell tests: checks that count failures, and a fake sysfs and route tables for
# networksetup (ZENTREL_SYSFS_ROOT, ZENTREL_PROC_NET_ROOT). Sourced; run as
# "testlib.sh ROOT", it lays out a laptop whose Wi-Fi carries the default route under ROOT.

FAILURES=0
fail() {
    echo "FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}
expect_eq() { # what expected actual
    [[ "$2" == "$3" ]] ||
        fail "$1"$'\n'"  expected: $(printf %q "$2")"$'\n'"  actual:   $(printf %q "$3")"
}
expect_contains() { # what needle haystack
    [[ "$3" == *"$2"* ]] || fail "$1: $(printf %q "$2") not in $(printf %q "$3")"
}
finish() {
    ((FAILURES == 0)) || { echo "$FAILURES check(s) failed" >&2 && exit 1; }
    echo "all checks passed"
}

# add_iface ROOT NAME KIND [ARG]: class/net/NAME linked into devices/ as the kernel has it.
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
    loopback) dir="$root/devices/virtual/net/$name" type=772 ;;
    virtual) dir="$root/devices/virtual/net/$name" devtype=$arg ;;
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
    mkdir -p "$dir" "$root/class/net"
    echo "$type" >"$dir/type"
    echo "INTERFACE=$name" >"$dir/uevent"
    [[ -z $devtype ]] || echo "DEVTYPE=$devtype" >>"$dir/uevent"
    ln -s "../../${dir#"$root"/}" "$root/class/net/$name"
}

# set_routes ROOT IFACE:METRIC...: ROOT/route with those IPv4 default routes, no IPv6 ones.
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

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    set -eu
    add_iface "$1/sys" wlan0 wifi iwlwifi
    set_routes "$1/proc" wlan0:600
fi
