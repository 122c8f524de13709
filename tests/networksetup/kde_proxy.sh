#!/bin/bash
# KDE Plasma's proxy in kioslaverc through the real kwriteconfig5/kreadconfig5.
source "$(dirname "$0")/lib.sh" "$1"

use_wifi_laptop
export XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5
export XDG_DATA_DIRS="$TMP/no-schemas" # KDE alone, no GNOME schema beside it
RC="$XDG_CONFIG_HOME/kioslaverc"

kread() { kreadconfig5 --file "$RC" --group "Proxy Settings" --key "$1" --default "(absent)"; }
summary() { for k in ProxyType socksProxy httpProxy httpsProxy ftpProxy; do echo "$k=$(kread $k)"; done; }
entries() { grep -v '^$' "$RC" | sort; } # kwriteconfig may reorder lines

# The user's configuration: a PAC script with an HTTP proxy beside it; no SOCKS, HTTPS, FTP.
cat >"$RC" <<'RC'
[Proxy Settings]
NoProxyFor=localhost,127.0.0.1,.corp
Proxy Config Script=http://wpad.corp/proxy.pac
ProxyType=2
httpProxy=http://proxy.corp 3128

[Cache Settings]
MaxCacheSize=5120
RC
before=$(entries)

proxy_address Wi-Fi 6969 || fail "address failed"
proxy_on Wi-Fi || fail "on failed"
expect_eq "on: manual SOCKS, the rest emptied" \
    $'ProxyType=1\nsocksProxy=socks://localhost 6969\nhttpProxy=\nhttpsProxy=\nftpProxy=' "$(summary)"
expect_eq "on: exceptions stay" "localhost,127.0.0.1,.corp" "$(kread NoProxyFor)"
proxy_off Wi-Fi || fail "off failed"
expect_eq "off: file as before, no stale keys" "$before" "$(entries)"

# A kwriteconfig5 that logs its calls and fails or hangs (HOW) on those numbered in CALLS.
mkdir -p "$TMP/flaky"
cat >"$TMP/flaky/kwriteconfig5" <<'SH'
#!/bin/bash
echo "$*" >>"$FLAKY/writes.log"
if [[ " $CALLS " == *" $(wc -l <"$FLAKY/writes.log") "* ]]; then
    [[ $HOW == hang ]] || exit 1
    echo $$ >"$FLAKY/hung.pid"
    exec sleep 60
fi
exec /usr/bin/kwriteconfig5 "$@"
SH
chmod +x "$TMP/flaky/kwriteconfig5"
flaky() { FLAKY="$TMP/flaky" PATH="$TMP/flaky:$PATH" networksetup -setsocksfirewallproxystate Wi-Fi "$@"; }

# One call per key, and a kill may fall between any two: on writes ProxyType after the hosts
# it points at, off before it puts the user's hosts back.
for state in on off; do
    flaky $state || fail "logged $state failed"
    keys=$(sed -n 's/.* --key \([^ ]*\) .*/\1/p' "$TMP/flaky/writes.log" | xargs)
    rm "$TMP/flaky/writes.log"
    [[ $state == on ]] && pattern="* * * * ProxyType" || pattern="ProxyType * * * *"
    [[ $keys == $pattern ]] || fail "$state: kwriteconfig5 wrote the keys in this order: $keys"
done

# Failing or hanging on the second call: the change is undone at once, or by the next off when
# the undo fails too.
for flaw in "fail 2" "fail 2 3 4 5 6 7 8" "hang 2"; do
    rm -f "$TMP/flaky/writes.log"
    HOW=${flaw%% *} CALLS=${flaw#* } flaky on 2>"$TMP/flaky.err" && fail "$flaw: on succeeded"
    [[ $flaw == hang* ]] && why="did not finish in time and was stopped" || why="exit status 1"
    grep -q "$why" "$TMP/flaky.err" || fail "$flaw: unclear message: $(cat "$TMP/flaky.err")"
    if [[ $flaw == "fail 2" || $flaw == hang* ]]; then
        expect_eq "$flaw: undone at once" "$before" "$(entries)"
        expect_eq "$flaw: not recorded as on" "Enabled: No" "$(networksetup -getsocksfirewallproxy Wi-Fi | head -1)"
    fi
    [[ $flaw != hang* ]] || ! kill -0 "$(cat "$TMP/flaky/hung.pid")" 2>/dev/null || fail "hung tool left running"
    proxy_off Wi-Fi || fail "$flaw: off failed: $(cat "$TMP/flaky.err")"
    expect_eq "$flaw: nothing of ours after off" "$before" "$(entries)"
done

# Started by a parent that ignores SIGCHLD: the tools' exit statuses must still be seen.
python3 -c 'import os, signal, sys; signal.signal(signal.SIGCHLD, signal.SIG_IGN); os.execvp(sys.argv[1], sys.argv[1:])' \
    networksetup -setsocksfirewallproxystate Wi-Fi on || fail "on with SIGCHLD ignored failed"
proxy_off Wi-Fi

# With a session bus, running KIO workers are told to reread their configuration.
start_session_bus
dbus-monitor --session "type='signal',interface='org.kde.KIO.Scheduler'" >"$TMP/monitor.log" 2>&1 &
AT_EXIT+=("kill $!")
for _ in $(seq 100); do grep -q NameAcquired "$TMP/monitor.log" && break; sleep 0.1; done
proxy_on Wi-Fi
for _ in $(seq 100); do grep -q reparseSlaveConfiguration "$TMP/monitor.log" && break; sleep 0.1; done
grep -q "interface=org.kde.KIO.Scheduler; member=reparseSlaveConfiguration" "$TMP/monitor.log" ||
    fail "no reparseSlaveConfiguration signal: $(cat "$TMP/monitor.log")"
proxy_off Wi-Fi

# KDE 6 tools are preferred in a Plasma 6 session and the 5 ones serve when they are missing.
mkdir -p "$TMP/kde6"
for tool in kreadconfig kwriteconfig; do
    printf '#!/bin/bash\necho "%s6 $*" >>"%s"\nexec %s5 "$@"\n' "$tool" "$TMP/kde6.log" "$tool" \
        >"$TMP/kde6/${tool}6"
    chmod +x "$TMP/kde6/${tool}6"
done
PATH="$TMP/kde6:$PATH" KDE_SESSION_VERSION=6 networksetup -setsocksfirewallproxystate Wi-Fi on
grep -q "^kwriteconfig6 " "$TMP/kde6.log" || fail "KDE 6 session did not use kwriteconfig6"
KDE_SESSION_VERSION=6 networksetup -setsocksfirewallproxystate Wi-Fi off ||
    fail "KDE 6 session without kwriteconfig6 failed"
expect_eq "KDE 6 cycle restores" "$before" "$(entries)"

# A KDE session switched GNOME's settings and its own; off comes from a GNOME session: both
# are restored from there, and a record that truly cannot be (no KDE tools) waits for KDE.
export XDG_DATA_DIRS=/usr/local/share:/usr/share
gnome_before=$(gnome_proxy)
proxy_on Wi-Fi
XDG_CURRENT_DESKTOP=GNOME PATH="$TMP/bin" "$TMP/bin/networksetup" \
    -setsocksfirewallproxystate Wi-Fi off 2>"$TMP/note.err" || fail "off without KDE tools failed"
grep -q "note: the kde proxy settings .* cannot be restored here" "$TMP/note.err" ||
    fail "no note about the KDE record: $(cat "$TMP/note.err")"
XDG_CURRENT_DESKTOP=GNOME networksetup -setsocksfirewallproxystate Wi-Fi off ||
    fail "off from a GNOME session failed"
expect_eq "GNOME session off: KDE restored" "$before" "$(entries)"
expect_eq "GNOME session off: GNOME restored" "$gnome_before" "$(gnome_proxy)"

finish
