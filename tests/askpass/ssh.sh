#!/bin/bash
# The askpass program as the real OpenSSH client runs it, against the real sshd of in-sandbox:
# ssh started as the app starts it (no terminal, SSH_ASKPASS_REQUIRE=force), the dialog
# answered with keys, the tunnel checked with a request through its SOCKS port. (A new host
# key asked for through the app is in tst_tunnel_e2e.)
source "$(dirname "$0")/lib.sh" "$1"
WORK=${ZENTREL_E2E_WORK:?run me through in-sandbox}
export SSH_ASKPASS=$ASKPASS SSH_ASKPASS_REQUIRE=force TMPDIR=$WORK/tmp
mkdir -p "$TMPDIR"
unset SSH_AUTH_SOCK SSH_ASKPASS_PROMPT

# A key with a passphrase beyond ASCII, as the app passes it: "-i path".
PASSPHRASE='correct horse bättery stäple'
ssh-keygen -q -t ed25519 -N "$PASSPHRASE" -C locked -f "$WORK/locked_key"
cat "$WORK/locked_key.pub" >>"$WORK/authorized_keys"
# The app's tunnel command, in a session of its own.
start_ssh() {
    setsid ssh -NTCD6969 "$(id -un)@127.0.0.1" -i "$WORK/locked_key" </dev/null \
        >"$RESULTS/ssh.log" 2>&1 &
    SSH=$!
    WINDOW=$(wait_for_dialog "$SSH") || fail "no passphrase dialog"
}

start_ssh
xdotool type --delay 20 "${PASSPHRASE%% *}"
paste_text " ${PASSPHRASE#* }"
expect_contains "the dialog names the key" "Enter passphrase for key '$WORK/locked_key':" \
    "$(shown_text "$WINDOW")"
xdotool key Return
tunnel=
for _ in $(seq 150); do
    tunnel=$(curl -sS --max-time 2 --socks5-hostname 127.0.0.1:6969 \
        http://127.0.0.1:8080/marker.txt 2>/dev/null) && break
    kill -0 "$SSH" 2>/dev/null || break
    sleep 0.1
done
expect_eq "the tunnel after the passphrase ($(cat "$RESULTS/ssh.log"))" "through the tunnel" "$tunnel"
kill "$SSH"
wait_for_end "$SSH"

# Ending ssh while it asks takes the dialog away.
start_ssh
asking=$(xdotool getwindowpid "$WINDOW")
kill "$SSH"
wait_for_end "$SSH"
wait_for_no_dialog || fail "the dialog stayed after ssh ended"
kill -0 "$asking" 2>/dev/null && fail "the askpass program outlived ssh"

# The sandbox's scratch folder holds the home and the temporary folder.
expect_eq "no secret left on disk" "" "$(files_holding "$PASSPHRASE" "$WORK")"
finish
