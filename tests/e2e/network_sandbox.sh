#!/usr/bin/env bash
# The network sandbox itself, driven with plain tools: an ssh tunnel through the veth pair
# reaches the server's page, and each netctl change does to it what the real event would.
# Run through in-network-sandbox.
set -euo pipefail

server=$ZENTREL_E2E_SERVER
port=6970
log=$ZENTREL_E2E_WORK/network_sandbox.log
: >"$log"

fail() {
    echo "FAIL: $*" >&2
    echo "--- ssh and dbus-monitor said:" >&2
    cat "$log" >&2
    exit 1
}

start_tunnel() {
    ssh -NTCD "$port" -o BatchMode=yes -o ExitOnForwardFailure=yes "$(id -un)@$server" 2>>"$log" &
    tunnel=$!
    for _ in $(seq 200); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
        kill -0 "$tunnel" 2>/dev/null || fail "ssh ended before forwarding its port"
        sleep 0.05
    done
    fail "ssh did not forward its port"
}

stop_tunnel() {
    kill "$tunnel"
    wait "$tunnel" || true
}

fetch() { # max-time
    curl -sS --max-time "$1" --socks5-hostname "127.0.0.1:$port" http://127.0.0.1:8080/marker.txt
}

expect_page() {
    [ "$(fetch 15 2>>"$log")" = "through the tunnel" ] || fail "$1: the page did not come through"
}

expect_no_page() {
    if fetch 3 >/dev/null 2>&1; then fail "$1: the page came through"; fi
}

expect_ssh_count() {
    [ "$(netctl ssh-count)" = "$1" ] || fail "expected $1 ssh, found $(netctl ssh-count)"
}

# The page is the server's alone: only the tunnel reaches it.
if curl -s --max-time 3 "http://$server:8080/marker.txt" >/dev/null; then
    fail "the page is reachable without the tunnel"
fi
start_tunnel
expect_page "a fresh tunnel"
expect_ssh_count 1

netctl link-down
[ -z "$(ip route show default)" ] || fail "the default route outlived the link"
expect_no_page "link down"
netctl link-up
[ -n "$(ip route show default)" ] || fail "link up without a default route"
stop_tunnel
expect_ssh_count 0
start_tunnel
expect_page "a new tunnel after the link came back"

stop_tunnel
[ "$(netctl move-address)" = "${server%.*}.3" ] || fail "move-address did not report .3"
start_tunnel
expect_page "a new tunnel from the moved address"
seen_from=$(ssh -o BatchMode=yes "$(id -un)@$server" 'echo $SSH_CONNECTION')
[ "${seen_from%% *}" = "${server%.*}.3" ] || fail "the server saw $seen_from"

netctl server-silent on
expect_no_page "server silent"
kill -0 "$tunnel" || fail "ssh ended while the server was silent"
netctl server-silent off
expect_page "the same tunnel once the server answers again"
expect_ssh_count 1

# A subscriber that matches on logind's name hears the resume.
dbus-monitor --system "type=signal,sender=org.freedesktop.login1,member=PrepareForSleep" \
    >"$ZENTREL_E2E_WORK/monitor.log" 2>>"$log" &
monitor=$!
for _ in $(seq 200); do
    grep -q NameLost "$ZENTREL_E2E_WORK/monitor.log" && break
    sleep 0.05
done
netctl sleep
netctl resume
for _ in $(seq 200); do
    [ "$(grep -A1 PrepareForSleep "$ZENTREL_E2E_WORK/monitor.log" | grep -c boolean)" = 2 ] && break
    sleep 0.05
done
kill "$monitor"
cat "$ZENTREL_E2E_WORK/monitor.log" >>"$log"
[ "$(grep -A1 PrepareForSleep "$ZENTREL_E2E_WORK/monitor.log" | grep -o 'boolean .*' | xargs)" = \
    "boolean true boolean false" ] || fail "the subscriber did not hear sleep and resume"
echo "network sandbox: all good"
