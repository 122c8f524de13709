"""The application against a hostile server, a held lock and a doctored environment, on Xvfb
and a private session bus (run it under dbus-run-session): ssh's output shown as plain text in
an alert that fits the screen, the tray answering while the helper waits for its lock, an
instance socket flooded with idle clients, and a PATH that names the current folder.

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

from gi.repository import GLib

from desktop_harness import (Panel, accessible_windows, app_environment, expect, fake_wifi,
                             install_tool, outcome, quit_from_menu, start, wait_for, xvfb)

SCREEN = (1024, 768)
BANNER = ("<h2>Session expired</h2> Sign in again at "
          "<a href='http://evil.example/phish'>https://intranet.example/login</a>")
LONG_LINE = "W" * 69  # wide glyphs, a line just too long for the box: the most lines per text
QUIET_SSH = "exec sleep 300\n"


def configured(scratch, name, **variables):
    env = app_environment(scratch, name, {"username": "demo", "server": "vpn.example.org",
                                          "networkService": "Wi-Fi"}, {"LANG": "C.UTF-8"})
    env.update(fake_wifi(f"{scratch}/{name}"), **variables)
    return env


def descendants(node, role):
    """The node's descendants in `role`; what vanishes meanwhile (a closing box) is skipped."""
    found = []
    try:
        children = [child for child in node if child is not None]
    except (GLib.Error, TypeError):
        return found
    for child in children:
        try:
            if child.getRole() == role:
                found.append(child)
        except GLib.Error:
            continue
        found += descendants(child, role)
    return found


def message_box(fragment):
    """The message box with a label that contains `fragment`: the box, that label's text and
    the other label's (the informative text)."""
    import pyatspi
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
    import pyatspi
    for node in descendants(window, pyatspi.ROLE_PUSH_BUTTON):
        if node.name.startswith(button):
            node.queryAction().doAction(0)
            return
    expect(False, f"no button {button!r}")


def dismiss(window, fragment):
    """Presses OK and waits until the box is gone, so that a later look finds no ghost."""
    press(window, "OK")
    expect(wait_for(lambda: not message_box(fragment)), f"the box with {fragment!r} stays")


def click_all_over(window, fragment):
    """Clicks every few pixels across the box's informative text, where a link would be."""
    import pyatspi
    for label in descendants(window, pyatspi.ROLE_LABEL):
        if fragment in label.name:
            continue
        box = label.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        clicks = []
        for y in range(box.y + 3, box.y + box.height, 7):
            for x in range(box.x + 3, box.x + box.width, 8):
                clicks += ["mousemove", str(x), str(y), "click", "--delay", "0", "1"]
        subprocess.run(["xdotool"] + clicks, check=True)


def on_screen(window):
    import pyatspi
    box = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return (0 <= box.x and 0 <= box.y and box.x + box.width <= SCREEN[0]
            and box.y + box.height <= SCREEN[1]), (box.x, box.y, box.width, box.height)


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
        # A followed link would run xdg-open, which here leaves a mark.
        click_all_over(alert, "SSH Error")
        expect(not wait_for(lambda: os.path.exists(opened), 1), "the banner's link was followed")
        fits, extents = on_screen(alert)
        expect(fits, f"the banner's alert at {extents} leaves the screen")
        dismiss(alert, "SSH Error")

    panel.click(service, "Connect")
    found = wait_for(lambda: message_box("SSH Error"))
    if expect(found, "no 'SSH Error' alert for 10 MB"):
        alert, _, shown = found
        press(alert, "Show Details")
        import pyatspi
        details = wait_for(lambda: [node.queryText().getText(0, -1)
                                    for node in descendants(alert, pyatspi.ROLE_TEXT)
                                    if node.getState().contains(pyatspi.STATE_SHOWING)])
        details = details[0] if details else ""
        expect(shown.endswith("\u2026") and len(shown) <= 2001, f"{len(shown)} characters shown")
        expect(set(shown[:-1]) <= set(LONG_LINE + "\n") and shown.startswith(LONG_LINE + "\n"),
               f"shown text {shown[:100]!r}")
        expect(details.startswith(shown[:-1]) and len(shown) < len(details) <= 65538,
               f"{len(details)} characters in the details")
        wait_for(lambda: on_screen(alert)[0], 3)
        fits, extents = on_screen(alert)
        expect(fits, f"the 10 MB alert at {extents} leaves the screen")
        dismiss(alert, "SSH Error")
    quit_from_menu(panel, service, process, "Quit Zentrel VPN")


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
            text = found[2]
            expect(waited >= 1.5, f"reported after {waited:.2f} s, before the deadline")
            expect("networksetup -setsocksfirewallproxy" in text
                   and "did not finish in time" in text, f"warning {text!r}")
    finally:
        os.killpg(holder.pid, signal.SIGKILL)  # flock and the sleep holding the lock
        holder.wait()
    quit_from_menu(panel, service, process, "Quit Zentrel VPN")


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
    quit_from_menu(panel, service, process, "Quit Zentrel VPN")


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
    quit_from_menu(panel, service, process, "Quit Zentrel VPN")


def main(app):
    panel = Panel()
    with tempfile.TemporaryDirectory(prefix="zentrel-hostile-") as scratch:
        with xvfb(f"{SCREEN[0]}x{SCREEN[1]}"):
            ssh_output_is_plain_text(app, panel, scratch)
            tray_answers_while_the_helper_waits(app, panel, scratch)
            flooded_instance_socket_still_answers(app, panel, scratch)
            a_stray_networksetup_never_runs(app, panel, scratch)
    return outcome()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
