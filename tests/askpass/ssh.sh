#!/bin/bash
# The askpass program as the real OpenSSH client runs it, against the real sshd of in-sandbox:
# ssh started as the app starts it (no terminal, SSH_ASKPASS_REQUIRE=force), the dialog
# answered with keys and clicks, the tunnel checked with a request through its SOCKS port.
source "$(dirname "$0")/lib.sh" "$1"
WORK=${ZENTREL_E2E_WORK:?run me through in-sandbox}
KNOWN_HOSTS=$HOME/.ssh/known_hosts
LOGIN=$(id -un)@127.0.0.1
export SSH_ASKPASS=$ASKPASS SSH_ASKPASS_REQUIRE=force TMPDIR=$WORK/tmp
mkdir -p "$TMPDIR"
unset SSH_AUTH_SOCK SSH_ASKPASS_PROMPT

# start_ssh ARGS...: the app's tunnel command, in a session of its own, output to ssh.log.
start_ssh() {
    setsid ssh -NTCD6969 "$LOGIN" "$@" </dev/null >"$RESULTS/ssh.log" 2>&1 &
    SSH=$!
}
tunnel_works() {
    local deadline=$((SECONDS + 15))
    while ((SECONDS < deadline)) && kill -0 "$SSH" 2>/dev/null; do
        [[ $(curl -sS --max-time 2 --socks5-hostname 127.0.0.1:6969 \
            http://127.0.0.1:8080/marker.txt 2>/dev/null) == "through the tunnel" ]] && return 0
        sleep 0.1
    done
    return 1
}
stop_ssh() {
    kill "$SSH" 2>/dev/null
    wait_for_end "$SSH"
}
# ssh_failed WHAT MESSAGE: ssh ended by itself, unsuccessfully, saying MESSAGE.
ssh_failed() {
    wait_for_end "$SSH"
    local status=$?
    ((status != 0)) || fail "$1: ssh succeeded"
    expect_contains "$1: ssh's message" "$2" "$(cat "$RESULTS/ssh.log")"
}

# A server whose host key is not known yet. known_hosts holds another server's key.
fingerprint=$(ssh-keygen -lf "$WORK/host_key.pub" | cut -d' ' -f2)
ssh-keygen -q -t ed25519 -N '' -f "$RESULTS/other_key"
echo "other.example $(cat "$RESULTS/other_key.pub")" >"$KNOWN_HOSTS"
cp "$KNOWN_HOSTS" "$RESULTS/known_hosts.before"
for refusal in Cancel Return; do
    start_ssh
    window=$(wait_for_dialog "$SSH") || fail "no host key dialog"
    if [[ $refusal == Cancel ]]; then click "$window" cancel; else xdotool key Return; fi
    ssh_failed "$refusal on the host key" "Host key verification failed."
    cmp -s "$RESULTS/known_hosts.before" "$KNOWN_HOSTS" || fail "$refusal changed known_hosts"
done

start_ssh
window=$(wait_for_dialog "$SSH") || fail "no host key dialog"
shown=$(shown_text "$window")
expect_contains "the dialog shows the server's fingerprint" "key fingerprint is $fingerprint." \
    "$shown"
expect_contains "and asks" "(yes/no/[fingerprint])?" "$shown"
click "$window" accept
tunnel_works || fail "no tunnel after Connect: $(cat "$RESULTS/ssh.log")"
expect_contains "known_hosts now holds the key" "$(cut -d' ' -f2 "$WORK/host_key.pub")" \
    "$(ssh-keygen -F 127.0.0.1 -f "$KNOWN_HOSTS")"
stop_ssh

# A key with a passphrase, as the app passes it: "-i path".
PASSPHRASE='correct horse battery staple'
ssh-keygen -q -t ed25519 -N "$PASSPHRASE" -C locked -f "$WORK/locked_key"
cat "$WORK/locked_key.pub" >>"$WORK/authorized_keys"

start_ssh -i "$WORK/locked_key"
window=$(wait_for_dialog "$SSH") || fail "no passphrase dialog"
xdotool type --delay 20 "$PASSPHRASE"
expect_contains "the dialog names the key" "Enter passphrase for key '$WORK/locked_key':" \
    "$(shown_text "$window")"
xdotool key Return
tunnel_works || fail "no tunnel after the passphrase: $(cat "$RESULTS/ssh.log")"
stop_ssh

start_ssh -i "$WORK/locked_key"
window=$(wait_for_dialog "$SSH") || fail "no passphrase dialog"
first=$(xdotool getwindowpid "$window")
xdotool type --delay 20 "not the passphrase"
xdotool key Return
window=$(wait_for_dialog "$SSH" "$first") || fail "no second passphrase dialog"
click "$window" cancel
ssh_failed "wrong passphrase, then Cancel" "Permission denied"

# Ending ssh while it asks takes the dialog away.
start_ssh -i "$WORK/locked_key"
window=$(wait_for_dialog "$SSH") || fail "no passphrase dialog"
asking=$(xdotool getwindowpid "$window")
stop_ssh
wait_for_no_dialog || fail "the dialog stayed after ssh ended"
kill -0 "$asking" 2>/dev/null && fail "the askpass program outlived ssh"

# Password login, on a second sshd that allows it, with a password of our own for this user in
# a private copy of /etc/shadow.
PASSWORD='Pässwörd für root'
sed "s#^$(id -un):[^:]*:#$(id -un):$(openssl passwd -6 "$PASSWORD"):#" /etc/shadow \
    >"$WORK/shadow"
mount --bind "$WORK/shadow" /etc/shadow
$ZENTREL_SSHD -o Port=2222 -o PasswordAuthentication=yes -o PermitRootLogin=yes \
    -o PidFile="$WORK/sshd-password.pid"
echo "[127.0.0.1]:2222 $(cat "$WORK/host_key.pub")" >>"$KNOWN_HOSTS"
start_ssh -p 2222 -o PubkeyAuthentication=no
window=$(wait_for_dialog "$SSH") || fail "no password dialog"
paste_text "$PASSWORD"
expect_contains "the dialog asks for the password" "$LOGIN's password:" "$(shown_text "$window")"
click "$window" accept
tunnel_works || fail "no tunnel after the password: $(cat "$RESULTS/ssh.log")"
stop_ssh

# The sandbox's scratch folder holds the home and the temporary folder.
expect_eq "no secret left on disk" "" \
    "$(files_holding "$PASSPHRASE" "$WORK"; files_holding "$PASSWORD" "$WORK")"
finish
