#!/bin/bash
# Without a desktop proxy to set, the request is recorded but never reported as done;
# plus the command-line surface.
source "$(dirname "$0")/lib.sh" "$1"

use_wifi_laptop

# No GNOME schema anywhere GIO looks, and not KDE.
export XDG_DATA_DIRS="$TMP/no-schemas"
networksetup -setsocksfirewallproxy Wi-Fi localhost 6969 || fail "recording an address failed"
err=$(networksetup -setsocksfirewallproxystate Wi-Fi on 2>&1) && fail "on reported success"
[[ $err == *"no desktop proxy settings found"* ]] || fail "on: unclear message: $err"
expect_eq "on: still recorded" "Enabled: Yes" "$(networksetup -getsocksfirewallproxy Wi-Fi | head -1)"
networksetup -setsocksfirewallproxystate Wi-Fi off 2>/dev/null && fail "off reported success"
expect_eq "off: still recorded" "Enabled: No" "$(networksetup -getsocksfirewallproxy Wi-Fi | head -1)"

# KDE named in a desktop list, but its tools are missing.
err=$(XDG_CURRENT_DESKTOP=ubuntu:KDE PATH="$TMP/bin" "$TMP/bin/networksetup" \
    -setsocksfirewallproxystate Wi-Fi on 2>&1) && fail "KDE without tools reported success"
[[ $err == *kwriteconfig5* ]] || fail "KDE without tools: unclear message: $err"
# An entry merely containing the letters is not KDE.
err=$(XDG_CURRENT_DESKTOP=NotKDE:GNOME networksetup -setsocksfirewallproxystate Wi-Fi on 2>&1)
expect_contains "NotKDE is no KDE" "no desktop proxy settings found" "$err"
networksetup -setsocksfirewallproxystate Wi-Fi off 2>/dev/null

# Schema installed but GSettings only in memory: the write would vanish at exit.
unset XDG_DATA_DIRS
err=$(GSETTINGS_BACKEND=memory networksetup -setsocksfirewallproxystate Wi-Fi on 2>&1) &&
    fail "memory backend reported success"
[[ $err == *"storage backend"* ]] || fail "memory backend: unclear message: $err"
GSETTINGS_BACKEND=memory networksetup -setsocksfirewallproxystate Wi-Fi off 2>/dev/null

# Help, version and unknown commands.
[[ $(networksetup -help) == Usage:*-setsocksfirewallproxystate* ]] || fail "-help text"
[[ $(networksetup -version) =~ ^"networksetup (Zentrel VPN) "[0-9]+\.[0-9]+\.[0-9]+$ ]] ||
    fail "-version text: $(networksetup -version 2>&1)"
err=$(networksetup -setwebproxy Wi-Fi x 80 2>&1) && fail "unknown command accepted"
[[ $err == *'unknown command "-setwebproxy"'*Usage:* ]] || fail "unknown command text: $err"
networksetup >/dev/null 2>&1 && fail "no arguments accepted"

finish
