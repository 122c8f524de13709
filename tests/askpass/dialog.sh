#!/bin/bash
# The askpass program alone, as ssh runs it: the prompt as its one argument, SSH_ASKPASS_PROMPT
# for the kind, the answer read from its standard output. Driven with keys and clicks.
source "$(dirname "$0")/lib.sh" "$1"

HOST_KEY="The authenticity of host 'example.org (192.0.2.7)' can't be established.
ED25519 key fingerprint is SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU.
This key is not known by any other names.
Are you sure you want to continue connecting (yes/no/[fingerprint])? "
PASSPHRASE="Enter passphrase for key '$HOME/.ssh/id_ed25519': "
SECRET='Tr0ub4dor &3 horse'
PASTED='Gehéimnis für Jürgen'

# ask HINT PROMPT: starts the program the way ssh does and waits for its focused dialog.
ask() {
    rm -f "$RESULTS"/*
    if [[ -n $1 ]]; then export SSH_ASKPASS_PROMPT=$1; else unset SSH_ASKPASS_PROMPT; fi
    "$ASKPASS" "$2" >"$RESULTS/out" 2>"$RESULTS/err" </dev/null &
    ASKED=$!
    WINDOW=$(wait_for_dialog "$ASKED") || fail "no dialog for: $2"
}
# answered WHAT STATUS OUTPUT. accept|cancel|KEY: a click on the button or a key, then the program
# ended with that status and printed exactly OUTPUT.
answered() {
    if [[ $4 == accept || $4 == cancel ]]; then click "$WINDOW" "$4"; else xdotool key "$4"; fi
    wait_for_end "$ASKED"
    expect_eq "$1: status" "$2" "$?"
    # The dot keeps the line feed that $(...) would strip.
    expect_eq "$1: output" "$3" "$(cat "$RESULTS/out" && echo .)"
    expect_eq "$1: nothing on standard error" "" "$(cat "$RESULTS/err")"
}

# A new host key: the text as ssh wrote it, Cancel first in line for Return.
ask "" "$HOST_KEY"
expect_eq "host key text shown" "${HOST_KEY% }" "$(shown_text "$WINDOW")"
answered "Connect" 0 $'yes\n.' accept
ask "" "$HOST_KEY"
answered "Return on a question" 1 . Return

# A secret: typed and pasted into the field that has the focus (Return for OK is in ssh.sh).
ask "" "$PASSPHRASE"
xdotool type --delay 20 "$SECRET"
paste_text "$PASTED"
answered "typed and pasted secret, OK" 0 "$SECRET$PASTED"$'\n.' accept
# A server's own prompt is shown as the text it is, markup and all, never as a page with links.
MARKUP="(u@example.org) <b>Code</b> from <a href='https://example.org'>your token</a>: "
ask "" "$MARKUP"
xdotool type --delay 20 "$SECRET"
expect_eq "markup shown as text" "${MARKUP% }" "$(shown_text "$WINDOW")"
answered "Cancel on a secret" 1 . cancel
ask "" "$PASSPHRASE"
xdotool type --delay 20 "typed, then closed"
answered "closing the window" 1 . alt+F4

# SSH_ASKPASS_PROMPT=confirm: OK approves with an empty answer.
ask confirm "Allow use of key $HOME/.ssh/id_ed25519?"
answered "OK on a confirmation" 0 $'\n.' accept
ask confirm "Allow use of key $HOME/.ssh/id_ed25519?"
answered "Escape on a confirmation" 1 . Escape

# SSH_ASKPASS_PROMPT=none: shown until ssh ends it; nothing to answer.
ask none "Confirm user presence for key ED25519-SK SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU"
xdotool key Return
sleep 0.5
kill -0 "$ASKED" 2>/dev/null || fail "a notice ended on Return"
kill -TERM "$ASKED"
within_ten_seconds no_dialog || fail "the notice stayed after ssh ended it"
wait "$ASKED"
expect_eq "notice: no output" "" "$(cat "$RESULTS/out")"

# Without a display there is nobody to ask: ssh's error output says why.
DISPLAY= "$ASKPASS" "$PASSPHRASE" >"$RESULTS/out" 2>"$RESULTS/err"
expect_eq "no display: status" 1 "$?"
expect_contains "no display: message" "cannot open a window to ask ssh's question (neither" \
    "$(cat "$RESULTS/err")"
expect_eq "no display: no answer" "" "$(cat "$RESULTS/out")"

# Nothing typed was left behind, in UTF-8 or in the UTF-16 that Qt holds text in.
expect_eq "the secrets are nowhere on disk" "" "$(secrets_on_disk "$SECRET" "$PASTED")"

finish
