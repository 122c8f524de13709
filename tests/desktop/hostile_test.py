"""The application against a hostile server, a held lock and a doctored environment, on Xvfb
and a private session bus: ssh's output shown as plain text in an alert that fits the screen,
the tray answering while the helper waits for its lock, an instance socket flooded with idle
clients, and a PATH that names the current folder.

Usage: dbus-run-session -- python3 hostile_test.py ZENTREL_VPN_BINARY
"""

import os
import resource
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

import pyatspi
from desktop_harness import (Panel, accessible_windows, app_environment, expect, install_tool,
                             outcome, quit_from_menu, start, wait_for, xvfb)
from gi.repository import GLib

SCREEN = (1024, 768)
BANNER = ("<h2>Session expired</h2> Sign in again at "
          "<a href='http://evil.example/phish'>https://intranet.example/login</a>")
LONG_LINE = "W" * 69  # wide glyphs, a line just too long for the box: the most lines per text
QUIET_SSH = "exec sleep 300\n"


def configured(scratch, name, **variables):
    return dict(app_environment(scratch, name, {"username": "demo", "server": "vpn.example.org",
                                                "networkService": "Wi-Fi"}, {"LANG": "C.UTF-8"}),
                **variables)


def descendants(node, role):
    """The node's descendants in `role`; none while it vanishes (a closing box)."""
    try:
        return pyatspi.findAllDescendants(node, lambda child: child.getRole() == role)
    except (GLib.Error, TypeError, AttributeError):
        return []


def message_box(fragment):
    """The message box with a label that contains `fragment`: the box, that label's text and
    the other labels' (the informative text)."""
    for window in accessible_windows("Zentrel VPN"):
        try:
            # Long runs carry invisible places to wrap; the reader sees the text without them.
            labels = [label.name.replace("\u200b", "")
                      for label in descendants(window, pyatspi.ROLE_LABEL)]
        except GLib.Error:
            continue  # closing
        matched = [label for label in labels if fragment in label]
        if matched:
            return window, matched[0], "".join(label for label in labels if label != matched[0])
    return None


def press(window, button):
    for node in descendants(window, pyatspi.ROLE_PUSH_BUTTON):
        if node.name.startswith(button):
            return node.queryAction().doAction(0)
    expect(False, f"no button {button!r}")


def extents(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def fits(window):
    x, y, width, height = extents(window)
    return 0 <= x and 0 <= y and x + width <= SCREEN[0] and y + height <= SCREEN[1]


def dismiss(window, fragment):
    """Presses OK and waits until the box is gone, so that a later look finds no ghost."""
    press(window, "OK")
    expect(wait_for(lambda: not message_box(fragment)), f"the box with {fragment!r} stays")


def ssh_output_is_plain_text(app, panel, scratch):
    # The first connect meets a banner of markup in colour, the next 10 MB of long lines.
    install_tool(f"{scratch}/bin", "ssh", f"""if [ -e "$TOLD" ]; then
    yes {LONG_LINE} | head -c 10000000
else
    touch "$TOLD"; printf '\\e[1;31m%s\\e[0m\\n' "$BANNER"
fi
exec sleep 300
""")
    opened = f"{scratch}/opened"
    install_tool(f"{scratch}/bin", "xdg-open", f"touch {opened}\n")
    env = configured(scratch, "alerts", TOLD=f"{scratch}/told", BANNER=BANNER)
    process, service = start(app, env, panel)

    panel.click(service, "Connect")
    found = wait_for(lambda: message_box("SSH Error"))
    if expect(found, "no 'SSH Error' alert for the banner"):
        alert, _, text = found
        expect(text == BANNER, f"the banner shown as {text!r}")
        # Clicks every few pixels across the text, where a link would be; a followed link
        # would run xdg-open, which here leaves a mark.
        for label in descendants(alert, pyatspi.ROLE_LABEL):
            x0, y0, width, height = extents(label)
            if "SSH Error" not in label.name:
                subprocess.run(["xdotool"] + [word for y in range(y0 + 3, y0 + height, 7)
                                              for x in range(x0 + 3, x0 + width, 8)
                                              for word in ("mousemove", str(x), str(y), "click",
                                                           "--delay", "0", "1")], check=True)
        expect(not wait_for(lambda: os.path.exists(opened), 1), "the banner's link was followed")
        expect(fits(alert), f"the banner's alert at {extents(alert)} leaves the screen")
        dismiss(alert, "SSH Error")

    panel.click(service, "Connect")
    found = wait_for(lambda: message_box("SSH Error"))
    if expect(found, "no 'SSH Error' alert for 10 MB"):
        alert, _, shown = found
        press(alert, "Show Details")
        details = wait_for(lambda: [node.queryText().getText(0, -1)
                                    for node in descendants(alert, pyatspi.ROLE_TEXT)
                                    if node.getState().contains(pyatspi.STATE_SHOWING)])
        details = details[0] if details else ""
        expect(shown.endswith("\u2026") and len(shown) <= 2001, f"{len(shown)} characters shown")
        expect(set(shown[:-1]) <= set(LONG_LINE + "\n") and shown.startswith(LONG_LINE + "\n"),
               f"shown text {shown[:100]!r}")
        expect(details.startswith(shown[:-1]) and len(shown) < len(details) <= 65538,
               f"{len(details)} characters in the details")
        expect(wait_for(lambda: fits(alert), 3), f"the 10 MB alert at {extents(alert)} leaves "
               "the screen")
        dismiss(alert, "SSH Error")
    quit_from_menu(panel, service, process)


def tray_answers_while_the_helper_waits(app, panel, scratch):
    install_tool(f"{scratch}/bin", "ssh", QUIET_SSH)
    env = configured(scratch, "locked", ZENTREL_COMMAND_DEADLINE_MS="1500")
    state = f"{env['XDG_STATE_HOME']}/zentrel-vpn"
    os.makedirs(state, mode=0o700)
    holder = subprocess.Popen(["flock", f"{state}/lock", "sh", "-c",
                               f"touch {scratch}/locked-now; exec sleep 60"],
                              start_new_session=True)
    try:
        wait_for(lambda: os.path.exists(f"{scratch}/locked-now"))
        process, service = start(app, env, panel)
        panel.click(service, "Connect")
        clicked = time.monotonic()
        slowest, found = 0, None
        while not found and time.monotonic() - clicked < 20:
            asked = time.monotonic()
            panel.menu(service)
            panel.tooltip(service)
            slowest = max(slowest, time.monotonic() - asked)
            found = message_box("The proxy setting could not be changed")
        waited = time.monotonic() - clicked
        expect(slowest < 1, f"the tray took {slowest:.2f} s to answer while the helper waited")
        if expect(found, "no warning about the proxy commands that waited for the lock"):
            expect(waited >= 1.5, f"reported after {waited:.2f} s, before the deadline")
            expect("networksetup -setsocksfirewallproxy" in found[2]
                   and "did not finish in time" in found[2], f"warning {found[2]!r}")
    finally:
        os.killpg(holder.pid, signal.SIGKILL)  # flock and the sleep holding the lock
        holder.wait()
    quit_from_menu(panel, service, process)


def flooded_instance_socket_still_answers(app, panel, scratch):
    env = configured(scratch, "flooded")
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    # The application with a desktop's usual limit; the flood from here, beyond it.
    process, service = start(app, env, panel, preexec_fn=lambda: resource.setrlimit(
        resource.RLIMIT_NOFILE, (1024, hard)))
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(4096, hard), hard))
    path = f"{env['XDG_RUNTIME_DIR']}/zentrel-vpn.socket"
    wait_for(lambda: os.path.exists(path))
    clients = []
    for _ in range(1100):
        client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        # Blocking, so that each waits its turn to be taken; a second at most.
        client.setsockopt(socket.SOL_SOCKET, socket.SO_SNDTIMEO, struct.pack("ll", 1, 0))
        clients.append(client)
        try:
            client.connect(path)
        except OSError:
            pass
    try:  # one that cannot reach us says so in a box, which would wait for a click
        status = subprocess.run([app], env=env, timeout=15).returncode
    except subprocess.TimeoutExpired:
        status = "none: it did not end"
    expect(status == 0, f"a second start beside 1,100 idle clients: exit status {status}")
    expect(wait_for(lambda: accessible_windows("Zentrel VPN Preferences")),
           "the second start did not bring up the preferences window")
    for client in clients:
        client.close()
    quit_from_menu(panel, service, process)


def a_stray_networksetup_never_runs(app, panel, scratch):
    install_tool(f"{scratch}/bin", "ssh", QUIET_SSH)
    # A copy of the application without its helper, started where a stray networksetup is.
    os.makedirs(f"{scratch}/copy/bin")
    shutil.copy(app, f"{scratch}/copy/bin")
    marker = f"{scratch}/stray-ran"
    install_tool(f"{scratch}/here", "networksetup", f"touch {marker}\n")
    env = configured(scratch, "stray", PATH=f"{scratch}/bin::.:/usr/bin:/bin")
    process, service = start(f"{scratch}/copy/bin/zentrel-vpn", env, panel,
                             cwd=f"{scratch}/here")
    panel.click(service, "Connect")
    notice = wait_for(lambda: message_box("networksetup is missing"))
    expect(notice and f"{scratch}/copy/libexec/zentrel-vpn" in notice[1],
           f"notice that the helper is missing: {notice and notice[1]!r}")
    expect(wait_for(lambda: message_box("The proxy setting could not be changed")),
           "no warning that the proxy commands failed")
    expect(not os.path.exists(marker), "a networksetup in the current folder ran")
    quit_from_menu(panel, service, process)


def main(app):
    panel = Panel()
    with tempfile.TemporaryDirectory(prefix="zentrel-hostile-") as scratch, \
            xvfb(f"{SCREEN[0]}x{SCREEN[1]}"):
        ssh_output_is_plain_text(app, panel, scratch)
        tray_answers_while_the_helper_waits(app, panel, scratch)
        flooded_instance_socket_still_answers(app, panel, scratch)
        a_stray_networksetup_never_runs(app, panel, scratch)
    return outcome()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
