#!/bin/bash
# The GNOME system proxy through real gsettings on the keyfile backend.
source "$(dirname "$0")/lib.sh" "$1"

use_wifi_laptop
add_iface "$ZENTREL_SYSFS_ROOT" enp0s31f6 ethernet
add_iface "$ZENTREL_SYSFS_ROOT" enp5s0 ethernet

get() { gsettings get "org.gnome.system.proxy$1" "$2"; }
proxy_summary() {
    echo "$(get "" mode) $(get .socks host):$(get .socks port)" \
        "http=$(get .http host) https=$(get .https host) ftp=$(get .ftp host)"
}
on_summary() { echo "'manual' 'localhost':$1 http='' https='' ftp=''"; }

# The user's own configuration: a PAC file, HTTP, HTTPS and FTP proxies, custom exceptions.
user_config() {
    gsettings reset-recursively org.gnome.system.proxy
    gsettings set org.gnome.system.proxy mode auto
    gsettings set org.gnome.system.proxy autoconfig-url 'http://wpad.corp/proxy.pac'
    gsettings set org.gnome.system.proxy ignore-hosts "['corp.example', '10.0.0.0/8']"
    gsettings set org.gnome.system.proxy.http host 'proxy.corp'
    gsettings set org.gnome.system.proxy.http port 3128
    gsettings set org.gnome.system.proxy.https host 'secure.corp'
    gsettings set org.gnome.system.proxy.ftp host 'files.corp'
}
user_config
before=$(gnome_proxy)
keyfile_entries() { grep = "$KEYFILE" | sort; } # GLib leaves emptied groups behind
user_keyfile=$(keyfile_entries)

# Recording an address while off touches no desktop: GIO is not even loaded.
LD_DEBUG=libs networksetup -setsocksfirewallproxy Wi-Fi localhost 6969 2>"$TMP/ld.log" ||
    fail "setting the address failed"
# Only a log that names the libraries loaded can tell that GIO is not among them.
grep -q 'calling init: .*libc\.so' "$TMP/ld.log" || fail "LD_DEBUG reported no loaded library"
grep -q libgio "$TMP/ld.log" && fail "recording an address loaded GIO"
expect_eq "address alone leaves the desktop" "$before" "$(gnome_proxy)"
proxy_on Wi-Fi || fail "switching on failed"
expect_eq "on: manual SOCKS, other protocols cleared" "$(on_summary 6969)" "$(proxy_summary)"
expect_eq "on: exceptions are the user's" "['corp.example', '10.0.0.0/8']" "$(get "" ignore-hosts)"
expect_eq "on: get" $'Enabled: Yes\nServer: localhost\nPort: 6969\nAuthenticated Proxy Enabled: 0' \
    "$(networksetup -getsocksfirewallproxy Wi-Fi)"
proxy_address Wi-Fi 7001 || fail "changing the address while on failed"
expect_eq "address change while on reaches the desktop" "$(on_summary 7001)" "$(proxy_summary)"
proxy_off Wi-Fi || fail "switching off failed"
expect_eq "off: everything as before" "$before" "$(gnome_proxy)"
# Keys the user never set are unset again, not left holding their defaults.
expect_eq "off: keyfile as the user left it" "$user_keyfile" "$(keyfile_entries)"

# Two services on: the one switched last is in force, and one going off keeps the proxy on.
proxy_address Wi-Fi 6969 && proxy_on Wi-Fi
proxy_address "Ethernet 2" 7070 && proxy_on "Ethernet 2"
expect_eq "two on: last one wins" "$(on_summary 7070)" "$(proxy_summary)"
proxy_off "Ethernet 2"
expect_eq "one off: still on with the other" "$(on_summary 6969)" "$(proxy_summary)"
proxy_off Wi-Fi

# The user changes some settings while we are on: theirs stay, every other one comes back,
# also when a second "on" (after a crash) comes between.
theirs="http='proxy.corp' https='secure.corp' ftp='files.corp'"
for change in "'none' '':0 $theirs|no|org.gnome.system.proxy mode none" \
    "'auto' '':1080 $theirs|no|org.gnome.system.proxy.socks port 1080" \
    "'auto' '':0 http='mine.corp' https='secure.corp' ftp='files.corp'|yes|org.gnome.system.proxy.http host mine.corp"; do
    IFS='|' read -r expected second_on setting <<<"$change"
    proxy_on Wi-Fi
    # shellcheck disable=SC2086 # schema, key and value
    gsettings set $setting
    [[ $second_on == no ]] || proxy_on Wi-Fi || fail "second on after: $setting"
    proxy_off Wi-Fi || fail "off after the user's $setting"
    expect_eq "user's $setting kept (second on: $second_on)" "$expected" "$(proxy_summary)"
    user_config
done

# Bad arguments: one line on stderr, exit 2, state and desktop untouched (hosts and ports
# in every form are in unit_test.cpp).
proxy_on Wi-Fi
bad() {
    expect_refused "$*" "networksetup: " networksetup "$@"
    expect_eq "exit status for: $*" 2 "$STATUS"
}
bad -setsocksfirewallproxy Wi-Fi localhost
bad -setsocksfirewallproxy Wi-Fi localhost 6969 extra
bad -setsocksfirewallproxy Nowhere localhost 6969
bad -setsocksfirewallproxy Wi-Fi localhost 65536
bad -setsocksfirewallproxy Wi-Fi -oProxyCommand=x 6969
bad -setsocksfirewallproxy -Wi-Fi localhost 6969
bad -setsocksfirewallproxystate Wi-Fi yes
bad -setsocksfirewallproxystate Wi-Fi
bad -setsocksfirewallproxystate Ethernet on # no server set for it yet
bad -getsocksfirewallproxy Nowhere
bad -listnetworkserviceorder extra
networksetup -setsocksfirewallproxy Wi-Fi bücher.example 06969 || fail "a good address refused"
proxy_off Wi-Fi

# A service whose interface has gone can still be switched off, not on.
proxy_address "Ethernet 2" 7070 && proxy_on "Ethernet 2"
rm "$ZENTREL_SYSFS_ROOT/class/net/enp5s0"
proxy_off "Ethernet 2" || fail "off for a vanished service failed"
expect_eq "vanished service off: restored" "'auto'" "$(get "" mode)"
networksetup -setsocksfirewallproxystate "Ethernet 2" on 2>/dev/null && fail "on for a vanished service"

# Concurrent invocations must not lose each other's updates.
for i in $(seq 10 19); do add_iface "$ZENTREL_SYSFS_ROOT" "eth$i" ethernet; done
mapfile -t names < <(networksetup -listallnetworkservices | tail -n +2)
for name in "${names[@]}"; do proxy_address "$name" 6969; done
for name in "${names[@]}"; do proxy_on "$name" & done
wait
enabled=$(for name in "${names[@]}"; do networksetup -getsocksfirewallproxy "$name"; done |
    grep -c "^Enabled: Yes")
expect_eq "parallel on: every service recorded" "${#names[@]}" "$enabled"
for name in "${names[@]}"; do proxy_off "$name" & done
wait
expect_eq "parallel off: the user's proxy is back" "$before" "$(gnome_proxy)"

finish
