"""Runs the application as a user would from a terminal or a login script, and under a real X
server to see that its windows carry the class that its desktop entry names.

Usage: check_command_line.py APP DESKTOP_ENTRY VERSION
"""

import configparser
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

# Without X tools: a skip on a developer's machine, a failure under CI, which installs them.
SKIP = 1 if os.environ.get("CI") else 77

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


def private_environment(scratch):
    """No display, and a home of its own so that nothing of the user's is read or changed."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    for name, sub in [("HOME", "home"), ("XDG_CONFIG_HOME", "config"),
                      ("XDG_STATE_HOME", "state"), ("XDG_RUNTIME_DIR", "run")]:
        env[name] = os.path.join(scratch, sub)
        os.makedirs(env[name], mode=0o700, exist_ok=True)
    return env


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


def window_classes(env):
    """The WM_CLASS class of every top-level window that has one."""
    tree = subprocess.run(["xwininfo", "-root", "-children"], env=env, capture_output=True,
                          text=True).stdout
    return set(re.findall(r'^\s+0x[0-9a-f]+ .*: \("[^"]*" "([^"]*)"\)', tree, re.MULTILINE))


def check_window_class(app, desktop_entry, env, failures):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read(desktop_entry, encoding="utf-8")
    wanted = parser["Desktop Entry"].get("StartupWMClass")

    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp"],
                            pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    app_process = None
    try:
        with os.fdopen(read_end) as display_fd:
            display = display_fd.readline().strip()
        env = dict(env, DISPLAY=f":{display}")
        app_process = subprocess.Popen([app], env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        # Without a tray the preferences window opens, perhaps after waiting for one.
        classes = set()
        deadline = time.monotonic() + 30
        while not classes and time.monotonic() < deadline and app_process.poll() is None:
            time.sleep(0.3)
            classes = window_classes(env)
        if classes != {wanted}:
            failures.append(f"window classes {sorted(classes)}, but the desktop entry's "
                            f"StartupWMClass is {wanted!r}")
        # A start as cron or `env -i` makes it, without the session's runtime folder and with
        # another idea of home, finds this one through the password database and only wakes it.
        elsewhere = {k: v for k, v in env.items() if k != "XDG_RUNTIME_DIR"}
        elsewhere["HOME"] = elsewhere["XDG_STATE_HOME"] = os.path.join(env["HOME"], "elsewhere")
        try:
            second = subprocess.run([app], env=elsewhere, capture_output=True, timeout=20)
            if second.returncode != 0 or app_process.poll() is not None:
                failures.append(f"a second start without XDG_RUNTIME_DIR: exit "
                                f"{second.returncode}, {second.stderr!r}; the first "
                                f"{'ended' if app_process.poll() is not None else 'runs'}")
        except subprocess.TimeoutExpired:
            failures.append("a second start without XDG_RUNTIME_DIR ran on beside the first")
    finally:
        for process in (app_process, xvfb):
            if process:
                process.terminate()
                process.wait(timeout=10)


def main(app, desktop_entry, version):
    if not os.environ.get("ZENTREL_OWN_HOME"):
        print("run through tests/support/with-own-home: the application's lock is the user's")
        return 1
    failures = []
    with tempfile.TemporaryDirectory(prefix="zentrel-cli-") as scratch:
        env = private_environment(scratch)
        check_cases(app, version, env, failures)
        have_x = all(shutil.which(tool) for tool in ("Xvfb", "xwininfo"))
        if have_x:
            check_window_class(app, desktop_entry, env, failures)
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        return 1
    if not have_x:
        print("FAIL" if os.environ.get("CI") else "SKIP", "- not installed: Xvfb or xwininfo")
        return SKIP
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
