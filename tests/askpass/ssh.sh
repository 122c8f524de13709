#!/bin/bash
# The askpass program as the real OpenSSH client runs it, against the real sshd of
# in-network-sandbox --local: ssh started as the app starts it (no terminal,
# SSH_ASKPASS_REQUIRE=force), the dialog answered with keys, the tunnel checked with a request
# through its SOCKS port. (A new host key asked for through the app is in tst_tunnel_e2e.)
source "$(dirname "$0")/lib.sh" "$1"
WORK=${ZENTREL_E2E_WORK:?run me through in-network-sandbox --local}
export SSH_ASKPASS=$ASKPASS SSH_ASKPASS_REQUIRE=force
unset SSH_AUTH_SOCK SSH_ASKPASS_PROMPT

# A key with a passphrase beyond ASCII, as the app passes it: "-i path".
PASSPHRASE='correct horse bättery stäple'
ssh-keygen -q -t ed25519 -N "$PASSPHRASE" -C locked -f "$WORK/locked_key"
cat "$WORK/locked_key.pub" >>"$WORK/authorized_keys"
# The app's tunnel command, in a session of its own; waits for its first dialog.
start_ssh() {
    setsid ssh -NTCD6969 "$(id -un)@127.0.0.1" "$@" </dev/null >"$RESULTS/ssh.log" 2>&1 &
    SSH=$!
    WINDOW=$(wait_for_dialog "$SSH") || fail "no dialog"
}
tunnel_works() {
    local tunnel=
    for _ in $(seq 150); do
        tunnel=$(curl -sS --max-time 2 --socks5-hostname 127.0.0.1:6969 \
            http://127.0.0.1:8080/marker.txt 2>/dev/null) && break
        kill -0 "$SSH" 2>/dev/null || break
        sleep 0.1
    done
    expect_eq "the tunnel after $1 ($(cat "$RESULTS/ssh.log"))" "through the tunnel" "$tunnel"
    kill "$SSH"
    wait_for_end "$SSH"
}

# A wrong passphrase is asked for again; the right one, pasted, then opens the tunnel.
start_ssh -i "$WORK/locked_key"
# The askpass process names the first dialog: the X server hands its window id to the next.
first=$(xdotool getwindowpid "$WINDOW")
xdotool type --delay 20 "not the passphrase"
xdotool key Return
WINDOW=$(wait_for_dialog "$SSH" "$first") || fail "no second passphrase dialog"
paste_text "$PASSPHRASE"
xdotool key Return
tunnel_works "the passphrase"

# Password login, on a second sshd that allows it, with a password of our own for this user in
# a private copy of /etc/shadow.
PASSWORD='Pässwörd für root'
sed "s#^$(id -un):[^:]*:#$(id -un):$(openssl passwd -6 "$PASSWORD"):#" /etc/shadow \
    >"$WORK/shadow"
mount --bind "$WORK/shadow" /etc/shadow
$ZENTREL_SSHD -o Port=2222 -o PasswordAuthentication=yes -o PermitRootLogin=yes \
    -o PidFile="$WORK/sshd-password.pid"
echo "[127.0.0.1]:2222 $(cat "$WORK/host_key.pub")" >>"$HOME/.ssh/known_hosts"
start_ssh -p 2222 -o PubkeyAuthentication=no
paste_text "$PASSWORD"
click "$WINDOW" accept
tunnel_works "the password"

# Ending ssh while it asks takes the dialog away.
start_ssh -i "$WORK/locked_key"
asking=$(xdotool getwindowpid "$WINDOW")
kill "$SSH"
wait_for_end "$SSH"
within_ten_seconds no_dialog || fail "the dialog stayed after ssh ended"
kill -0 "$asking" 2>/dev/null && fail "the askpass program outlived ssh"

expect_eq "no secret left on disk" "" "$(secrets_on_disk "$PASSPHRASE" "$PASSWORD")"
finish
