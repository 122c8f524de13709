#!/bin/bash
# State planted or damaged by someone else: each refused in one line, with nothing changed,
# no link followed, no hang; the desktop stays as it is until the state is sound again.
source "$(dirname "$0")/lib.sh" "$1"

use_wifi_laptop
DIR="$XDG_STATE_HOME/zentrel-vpn"
before=$(gnome_proxy)
proxy_address Wi-Fi 6969 && proxy_on Wi-Fi || fail "on failed"
echo "the user's own file" >"$TMP/victim"
snapshot() { # a FIFO is not read, a huge file not whole
    local file
    ls -l --time-style=+ "$DIR" 2>&1
    for file in "$STATE" "$KEYFILE" "$TMP/victim"; do [[ ! -f $file ]] || head -c 2M "$file"; done |
        md5sum
}

# A link planted where a temporary file might go is never followed.
ln -s "$TMP/victim" "$DIR/proxy-state.tmp"
proxy_address Wi-Fi 7000 || fail "saving beside a planted link failed"
expect_eq "planted link: the file behind it untouched" "the user's own file" "$(cat "$TMP/victim")"
rm "$DIR/proxy-state.tmp"

# hostile WHAT PATTERN SETUP UNDO: with SETUP done, off is refused and changes nothing.
hostile() {
    eval "$3"
    expect_refused "$1" "$2" timeout 20 networksetup -setsocksfirewallproxystate Wi-Fi off
    eval "$4"
}
cp "$STATE" "$TMP/good"
hostile "linked state" "symbolic link" 'ln -sf "$TMP/victim" "$STATE"' 'cp "$TMP/good" "$STATE"'
hostile "FIFO state" "not a regular file" 'rm "$STATE"; mkfifo "$STATE"' 'rm "$STATE"; cp "$TMP/good" "$STATE"'
hostile "huge state" "far larger" 'truncate -s 300M "$STATE"' 'cp "$TMP/good" "$STATE"'
hostile "changed" "checksum does not match" 'sed -i s/7000/7001/ "$STATE"' 'cp "$TMP/good" "$STATE"'
hostile "FIFO lock" "not a regular file" 'rm "$DIR/lock"; mkfifo "$DIR/lock"' 'rm "$DIR/lock"'
hostile "linked lock" "symbolic link" 'ln -s "$TMP/victim" "$DIR/lock"' 'rm "$DIR/lock"'
hostile "lock held" "still busy" 'exec {held}>>"$DIR/lock"; flock "$held"' 'exec {held}>&-'
hostile "open folder" "other users may write" 'chmod 777 "$DIR"' 'chmod 700 "$DIR"'
hostile "foreign folder" "another user" 'chown 65534 "$DIR"' 'chown "$(id -u)" "$DIR"'
hostile "linked folder" "symbolic link" 'mv "$DIR" "$DIR.real"; ln -s "$DIR.real" "$DIR"' \
    'rm "$DIR"; mv "$DIR.real" "$DIR"'

# Sound again: off restores the user's proxy.
proxy_off Wi-Fi || fail "off failed"
expect_eq "off: restored" "$before" "$(gnome_proxy)"
# A missing folder is made private.
rm -rf "$DIR"
proxy_address Wi-Fi 6969 || fail "address into a new folder failed"
expect_eq "new folder is private" "700" "$(stat -c %a "$DIR")"

finish
