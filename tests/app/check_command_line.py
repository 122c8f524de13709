"""Runs the application as a user would from a terminal or a login script, and on the X server
of tests/support/with-display to see that its windows carry the class that its desktop entry
names.

Usage: with-own-home with-display check_command_line.py APP DESKTOP_ENTRY VERSION
"""

import os
import re
import subprocess
import sys
import time

# arguments, exit code, the stream that explains, its first line. None of these has a display.
CASES = [
    (["--help"], 0, "stdout", r"Usage: zentrel-vpn \[options\]"),
    (["-v"], 0, "stdout", r"Zentrel VPN {version}"),
    # Qt's own options are no mistake.
    (["-style", "fusion", "-session", "1234", "--version"], 0, "stdout", r"Zentrel VPN {version}"),
    (["--bogus"], 2, "stderr", r"zentrel-vpn: Unknown option 'bogus'\."),
    (["--help", "surplus"], 2, "stderr", r"zentrel-vpn: Unexpected argument 'surplus'\."),
    ([], 1, "stderr", r"Zentrel VPN is a desktop application: start it from a graphical "
                      r"session \(no DISPLAY or WAYLAND_DISPLAY is set\)\."),
    (["--restore-proxy"], 0, None, None),
]


def check_cases(app, version, env, failures):
    for arguments, code, stream, line in CASES:
        result = subprocess.run([app] + arguments, env=env, capture_output=True, text=True,
                                timeout=60)
        shown = f"zentrel-vpn {' '.join(arguments)}: exit {result.returncode}, " \
                f"stdout {result.stdout!r}, stderr {result.stderr!r}"
        if result.returncode != code:
            failures.append(f"{shown}; wanted exit {code}")
        elif stream:
            text = result.stdout if stream == "stdout" else result.stderr
            first = text.splitlines()[0] if text else ""
            if not re.fullmatch(line.format(version=re.escape(version)), first):
                failures.append(f"{shown}; wanted {stream} to start with /{line}/")


def window_classes():
    """The WM_CLASS class of every window that the window manager manages."""
    def prop(*args):
        return subprocess.run(["xprop"] + list(args), capture_output=True, text=True).stdout
    windows = re.findall(r"0x[0-9a-f]+", prop("-root", "_NET_CLIENT_LIST"))
    return {re.findall(r'"([^"]*)"', prop("-id", window, "WM_CLASS"))[-1] for window in windows}


def check_window_class(app, desktop_entry, failures):
    with open(desktop_entry, encoding="utf-8") as entry:
        wanted = re.search(r"^StartupWMClass=(.*)$", entry.read(), re.M).group(1)

    app_process = subprocess.Popen([app], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # Without a tray the preferences window opens, perhaps after waiting for one.
        classes = set()
        deadline = time.monotonic() + 30
        while not classes and time.monotonic() < deadline and app_process.poll() is None:
            time.sleep(0.3)
            classes = window_classes()
        if classes != {wanted}:
            failures.append(f"window classes {sorted(classes)}, but the desktop entry's "
                            f"StartupWMClass is {wanted!r}")
    finally:
        app_process.terminate()
        app_process.wait(timeout=10)


def main(app, desktop_entry, version):
    if not os.environ.get("ZENTREL_OWN_HOME") or not os.environ.get("DISPLAY"):
        print("run through tests/support/with-own-home and with-display: the application's lock "
              "is the user's")
        return 1
    failures = []
    # The options need no display; none is named.
    check_cases(app, version, {k: v for k, v in os.environ.items()
                               if k not in ("DISPLAY", "QT_QPA_PLATFORM")}, failures)
    check_window_class(app, desktop_entry, failures)
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
