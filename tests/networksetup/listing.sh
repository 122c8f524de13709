#!/bin/bash
# Service discovery: what the helper lists, in which order. The application's own pipelines run
# against it in tests/system.
source "$(dirname "$0")/lib.sh" "$1"

use_tree() { # NAME: point the program at a fresh fake sysfs and route table
    export ZENTREL_SYSFS_ROOT="$TMP/$1/sys" ZENTREL_PROC_NET_ROOT="$TMP/$1/proc"
    mkdir -p "$ZENTREL_SYSFS_ROOT/class/net"
    set_routes "$ZENTREL_PROC_NET_ROOT"
}
header="An asterisk (*) denotes that a network service is disabled."
list_services() { networksetup -listallnetworkservices | tail -n +2; }

# One Wi-Fi and one Ethernet, both with a default route, the Wi-Fi's ahead.
use_tree laptop
add_iface "$ZENTREL_SYSFS_ROOT" lo loopback
add_iface "$ZENTREL_SYSFS_ROOT" enp0s31f6 ethernet
add_iface "$ZENTREL_SYSFS_ROOT" wlp2s0 wifi iwlwifi
set_routes "$ZENTREL_PROC_NET_ROOT" wlp2s0:600 enp0s31f6:700
expect_eq "laptop: full listing" "$header
(1) Wi-Fi
(Hardware Port: Wi-Fi, Device: wlp2s0)

(2) Ethernet
(Hardware Port: Ethernet, Device: enp0s31f6)

x" "$(networksetup -listnetworkserviceorder; echo x)"
expect_eq "laptop: all services" "$header"$'\nWi-Fi\nEthernet' "$(networksetup -listallnetworkservices)"

# Only software devices, one of them holding the default route: none is a service, the
# listing is its header alone.
use_tree virtual
add_iface "$ZENTREL_SYSFS_ROOT" lo loopback
add_iface "$ZENTREL_SYSFS_ROOT" veth3a2b virtual
add_iface "$ZENTREL_SYSFS_ROOT" wg0 virtual wireguard
add_iface "$ZENTREL_SYSFS_ROOT" docker0 bridge veth3a2b
set_routes "$ZENTREL_PROC_NET_ROOT" docker0:0
expect_eq "virtual: nothing listed" "$header" "$(networksetup -listnetworkserviceorder)"

# A LAN bridge over a real port is one service, the port is not; a phone tethered over USB
# carries an IPv6-only default route; a VPN is no service; ports are numbered by interface name,
# eth2 before eth10 (route kinds and metrics are in unit_test.cpp).
use_tree mixed
add_iface "$ZENTREL_SYSFS_ROOT" eth10 ethernet
add_iface "$ZENTREL_SYSFS_ROOT" eth2 ethernet
add_iface "$ZENTREL_SYSFS_ROOT" enp3s0 ethernet
add_iface "$ZENTREL_SYSFS_ROOT" br0 bridge enp3s0
add_iface "$ZENTREL_SYSFS_ROOT" usb0 usbmodem rndis_host
add_iface "$ZENTREL_SYSFS_ROOT" tun0 virtual
add_iface "$ZENTREL_SYSFS_ROOT" wlan1 wifi
add_iface "$ZENTREL_SYSFS_ROOT" wlan0 wifi
echo "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fe800000000000000000000000000001 00000064 00000001 00000000 00000003     usb0" \
    >"$ZENTREL_PROC_NET_ROOT/ipv6_route"
expect_eq "mixed: kinds and order" $'USB Modem\nEthernet\nEthernet 2\nWi-Fi\nWi-Fi 2\nBridge' \
    "$(list_services)"
expect_eq "mixed: Ethernet is eth2" "(Hardware Port: Ethernet, Device: eth2)" \
    "$(networksetup -listnetworkserviceorder | sed -n 6p)"

finish
