#!/bin/bash
# GNOME's proxy through the real dconf backend, whose commits happen later, over D-Bus.
source "$(dirname "$0")/lib.sh" "$1"

use_wifi_laptop
export GSETTINGS_BACKEND=dconf
summary() { gsettings get org.gnome.system.proxy mode; gsettings get org.gnome.system.proxy.socks port; }
proxy_address Wi-Fi 6969 || fail "address failed"

# No session bus: dconf takes the write and drops it later. Refused, nothing recorded as on.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$TMP/no-bus"
expect_refused "no bus" "dconf needs the D-Bus session bus" proxy_on Wi-Fi
expect_eq "no bus: desktop as before" $'\'none\'\n0' "$(summary)"

# A private bus with the real dconf-service: the values are committed and read back.
start_session_bus
proxy_on Wi-Fi || fail "on with dconf-service failed"
expect_eq "on: committed" $'\'manual\'\n6969' "$(summary)"

# A dconf-service that stops answering cannot hold the command past its deadline.
dconf_pid=$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.GetConnectionUnixProcessID string:ca.desrt.dconf | awk '{print $2}')
kill -STOP "$dconf_pid"
AT_EXIT+=("kill -CONT $dconf_pid")
snapshot() { :; } # what off records of a change left unconfirmed is not this test's
expect_refused "hung dconf-service" "did not confirm the change in time" proxy_off Wi-Fi
kill -CONT "$dconf_pid"
proxy_off Wi-Fi || fail "off after dconf-service came back failed"
expect_eq "off: restored" $'\'none\'\n0' "$(summary)"

finish
