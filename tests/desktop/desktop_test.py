"""The application as the desktop sees it, on Xvfb and a private session bus: its
StatusNotifierItem read and driven over D-Bus as a panel does, its preferences form read
through AT-SPI as a screen reader reads it, and the German translation.

Usage: dbus-run-session -- python3 desktop_test.py ZENTREL_VPN_BINARY
"""

import os
import subprocess
import sys
import tempfile

import pyatspi
from desktop_harness import (DASH, Panel, accessible_windows, app_environment, expect,
                             install_tool, outcome, quit_from_menu, start, wait_for, xvfb)


def form_as_a_screen_reader_reads_it(app, env):
    """Opens the preferences window (a second start wakes the first) and reads every control
    of the form through AT-SPI: role, name and label, as a screen reader announces them."""
    subprocess.run([app], env=env, timeout=20, check=True)
    window = wait_for(lambda: next(iter(accessible_windows("Zentrel VPN Preferences")), None))
    if not expect(window is not None, "no accessible window 'Zentrel VPN Preferences'"):
        return
    roles = {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_COMBO_BOX,
             pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_SPIN_BUTTON}

    def label(node):
        for relation in node.getRelationSet():
            if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
                return relation.getTarget(0).name
        return None

    named = sorted((node.getRoleName(), node.name, label(node)) for node in
                   pyatspi.findAllDescendants(window, lambda node: node.getRole() in roles))
    # Qt gives a combo box its value as name and its label only as the relation.
    custom = "Custom (complete path):"
    preview = "Zentrel VPN will run these commands when connecting:"  # its group box's title
    wanted = sorted([
        ("text", "Username:", "Username:"), ("text", "Server:", "Server:"),
        ("text", "Port:", "Port:"),
        ("radio button", "Default private key in ~/.ssh", "Private key:"),
        ("radio button", custom, None), ("text", custom, None),
        ("combo box", "Wi-Fi", "Network service:"), ("text", preview, preview)])
    expect(named == wanted, f"accessible controls {named}, wanted {wanted}")


def expect_item(panel, service, tooltip, icon_name):
    """The tooltip (waited for) and the icon's theme name, as the panel reads them."""
    expect(wait_for(lambda: panel.tooltip(service) == tooltip),
           f"tooltip {panel.tooltip(service)!r}, wanted {tooltip!r}")
    name = panel.item_property(service, "IconName")
    expect(name == icon_name, f"icon name {name!r}, wanted {icon_name!r}")


def main(app):
    panel = Panel()
    with tempfile.TemporaryDirectory(prefix="zentrel-desktop-") as scratch, xvfb():
        # ssh that stays up and says nothing, as a tunnel does.
        install_tool(f"{scratch}/bin", "ssh", "echo $$ >\"$SSH_PID_FILE\"\nexec sleep 300\n")
        english = app_environment(scratch, "english", {
            "username": "demo", "server": "vpn.example.org", "port": 2222,
            "networkService": "Wi-Fi"}, {"LANG": "C.UTF-8"}, install_icons=True)
        english["SSH_PID_FILE"] = f"{scratch}/ssh.pid"
        process, service = start(app, english, panel)
        off = (f"Zentrel VPN {DASH} Not connected", "zentrel-vpn-disconnected-symbolic")
        expect_item(panel, service, *off)
        form_as_a_screen_reader_reads_it(app, english)
        panel.click(service, "Connect")
        expect_item(panel, service, f"Zentrel VPN {DASH} Connected to demo@vpn.example.org "
                    "(port 2222)", "zentrel-vpn-symbolic")
        panel.click(service, "Disconnect")
        expect_item(panel, service, *off)
        with open(f"{scratch}/ssh.pid") as file:
            ssh = int(file.read())
        expect(wait_for(lambda: not os.path.exists(f"/proc/{ssh}")), "ssh left running")
        quit_from_menu(panel, service, process)

        # German, as a user whose locale may not even be generated gets it. Without the icon
        # theme installed: no name a host could fail to find, only our pixels.
        german = app_environment(scratch, "german", None,
                                 {"LANG": "de_DE.UTF-8", "LANGUAGE": "de_DE:de"})
        process, service = start(app, german, panel)
        entries = set(panel.menu(service)[0])
        wanted = {"Nicht eingerichtet", "Einstellungen für Zentrel VPN\u2026", "",
                  "Zentrel VPN beenden"}
        expect(entries == wanted, f"German menu {sorted(entries)}, wanted {sorted(wanted)}")
        expect_item(panel, service, f"Zentrel VPN {DASH} Nicht eingerichtet", "")
        sizes = {(width, height) for width, height, _ in panel.item_property(service,
                                                                              "IconPixmap")}
        expect({(16, 16), (22, 22)} <= sizes, f"icon pixmaps {sorted(sizes)}")
        quit_from_menu(panel, service, process, "Zentrel VPN beenden")

        # English before German in the user's list: English, though German is there.
        process, service = start(app, app_environment(
            scratch, "english-first", None, {"LANG": "de_DE.UTF-8", "LANGUAGE": "en_GB:de"}),
            panel)
        entries = set(panel.menu(service)[0])
        expect("Quit Zentrel VPN" in entries, f"menu for en_GB:de {sorted(entries)}")
        quit_from_menu(panel, service, process)
    return outcome()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
