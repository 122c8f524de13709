# Shared by the askpass test scripts: sourced, never run, in tests/support/with-own-home and on
# the display of tests/support/with-display.
# Usage: source lib.sh /path/to/zentrel-vpn-askpass
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/testlib.sh"

ASKPASS=$(readlink -f "$1")
# Everywhere the program could write (home, XDG, runtime and temporary folders) is in here.
PLACES=${ZENTREL_OWN_HOME:?run me through tests/support/with-own-home}
# What the program answered: kept apart from the folders searched for left-behind secrets.
RESULTS=$(mktemp -d -p /tmp)
trap 'rm -rf "$RESULTS"' EXIT

# wait_for_dialog OWNER [OLD]: waits until a dialog of the process OWNER or of a child of OWNER
# (but not of the process OLD, the one that asked before) is on screen, in front and has the
# keyboard; prints its window.
wait_for_dialog() {
    local window pid
    for _ in $(seq 150); do
        for window in $(xdotool search --onlyvisible --name '^Zentrel VPN$' 2>/dev/null); do
            pid=$(xdotool getwindowpid "$window" 2>/dev/null) || continue
            [[ $pid != "${2:-}" ]] || continue
            [[ $pid == "$1" || $(ps -o ppid= -p "$pid" 2>/dev/null) -eq $1 ]] || continue
            # Window ids are reused: the server's focus is the truth, the manager's says "front".
            if [[ $(xdotool getwindowfocus 2>/dev/null) == "$window" &&
                $(xdotool getactivewindow 2>/dev/null) == "$window" ]]; then
                # The toolkit takes the focus in from the server a moment later; keys typed
                # before that would be lost, as they would be for a person that quick.
                sleep 0.5
                echo "$window"
                return 0
            fi
        done
        sleep 0.1
    done
    echo "no dialog of process $1 in front with the focus" >&2
    return 1
}

# within_ten_seconds COMMAND...: runs COMMAND ten times a second until it succeeds.
within_ten_seconds() {
    for _ in $(seq 100); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
ended() { ! kill -0 "$1" 2>/dev/null; }
no_dialog() { ! xdotool search --onlyvisible --name '^Zentrel VPN$' >/dev/null 2>&1; }

# Waits for a process of ours to end, for ten seconds at most, then ends it; gives its status.
wait_for_end() {
    within_ten_seconds ended "$1" || { fail "process $1 still running" && kill -KILL "$1"; }
    wait "$1"
}

# click WINDOW accept|cancel: the buttons sit in the bottom right corner, 80 pixels wide and
# 8 apart in the style an X server without a desktop gets; Cancel is the rightmost.
click() {
    local WIDTH HEIGHT x
    [[ -n $1 ]] || return 1
    eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(WIDTH|HEIGHT)=')"
    x=$((WIDTH - 50))
    [[ $2 == cancel ]] || x=$((WIDTH - 137))
    xdotool mousemove --window "$1" "$x" $((HEIGHT - 23)) click 1
}

# Pastes TEXT as from a password manager: onto the clipboard, then Ctrl+V. Typing only
# covers what is on the keyboard's map; xdotool remaps a key for anything else, and the
# toolkit may read that key before or after the change.
paste_text() {
    printf %s "$1" | xclip -selection clipboard -i
    xdotool key ctrl+v
}

# The text the dialog shows, as a person copies it: a click into it, Ctrl+A, Ctrl+C.
shown_text() {
    [[ -n $1 ]] || return 1
    xdotool mousemove --window "$1" 60 14 click 1 key ctrl+a ctrl+c
    sleep 0.2
    timeout 5 xclip -o -selection clipboard
}

# secrets_on_disk TEXT...: the files under PLACES that hold a TEXT in UTF-8 or UTF-16.
secrets_on_disk() {
    local text code
    for text; do
        for code in UTF-8 UTF-16LE UTF-16BE; do
            LC_ALL=C grep -rlaP "$(printf %s "$text" | iconv -t "$code" | od -An -v -tx1 |
                tr -d ' \n' | sed 's/../\\x&/g')" "$PLACES" 2>/dev/null
        done
    done
}
