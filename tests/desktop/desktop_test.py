"""The application as the desktop sees it, on Xvfb and a private session bus (run it under
dbus-run-session): its StatusNotifierItem read and driven over D-Bus as a panel does (the
tooltip in each state, the menu's labels, Connect, Disconnect and Quit), its preferences form
read through AT-SPI as a screen reader reads it, and the German translation.

Usage: dbus-run-session -- python3 desktop_test.py ZENTREL_VPN_BINARY
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

from gi.repository import Gio, GLib

DASH = "\u2014"
RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")
WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_XML = """<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
</interface></node>"""

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)
        print(f"FAIL: {message}", file=sys.stderr)
    return condition


def wait_for(predicate, seconds=15):
    """Runs the GLib loop (our watcher answers from it) until predicate() holds."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        while context.iteration(False):
            pass
        value = predicate()
        if value:
            return value
        time.sleep(0.02)
    return predicate()


class Panel:
    """The least a panel is: a StatusNotifierWatcher with a host, and a reader of items."""

    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        self.items = []
        interface = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML).interfaces[0]
        self.bus.register_object("/StatusNotifierWatcher", interface, self._method,
                                 self._property, None)
        owner = self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "RequestName", GLib.Variant("(su)", (WATCHER, 4)))
        assert owner == (1,), f"could not own {WATCHER}: {owner}"

    def _method(self, connection, sender, path, interface, method, parameters, invocation):
        if method == "RegisterStatusNotifierItem":
            self.items.append(parameters.unpack()[0])
        invocation.return_value(None)

    def _property(self, connection, sender, path, interface, name):
        return {"RegisteredStatusNotifierItems": GLib.Variant("as", self.items),
                "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
                "ProtocolVersion": GLib.Variant("i", 0)}[name]

    def call(self, destination, path, interface, method, arguments=None):
        """Asynchronous underneath, so that our own watcher keeps answering meanwhile."""
        result = {}
        self.bus.call(destination, path, interface, method, arguments, None,
                      Gio.DBusCallFlags.NONE, 10000, None,
                      lambda bus, res: result.update(reply=_finish(bus, res)))
        if not wait_for(lambda: result):
            raise TimeoutError(f"{method} on {destination} did not answer")
        if isinstance(result["reply"], Exception):
            raise result["reply"]
        return result["reply"].unpack()

    def item_property(self, service, name):
        return self.call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                         GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", name)))[0]

    def tooltip(self, service):
        return self.item_property(service, "ToolTip")[2]

    def menu(self, service):
        """The menu's entries as {label: id}, as the panel would show them."""
        path = self.item_property(service, "Menu")
        layout = self.call(service, path, "com.canonical.dbusmenu", "GetLayout",
                           GLib.Variant("(iias)", (0, -1, [])))[1]
        return {child[1].get("label", ""): child[0] for child in layout[2]}, path

    def click(self, service, label):
        entries, path = self.menu(service)
        if not expect(label in entries, f"no menu entry {label!r} in {sorted(entries)}"):
            return
        self.call(service, path, "com.canonical.dbusmenu", "Event",
                  GLib.Variant("(isvu)", (entries[label], "clicked", GLib.Variant("i", 0), 0)))


def _finish(bus, result):
    try:
        return bus.call_finish(result)
    except GLib.Error as error:
        return error


def fake_wifi(root):
    """One Wi-Fi interface in a fake sysfs, so that the helper has a "Wi-Fi" service."""
    device = f"{root}/sys/devices/pci0000:00/0000:00:01.0"
    os.makedirs(f"{device}/net/wlan0/wireless")
    os.makedirs(f"{root}/sys/devices/ieee80211/phy0")
    os.makedirs(f"{root}/sys/bus/drivers/iwlwifi")
    os.makedirs(f"{root}/sys/class/net")
    os.makedirs(f"{root}/proc-net")
    os.symlink("../..", f"{device}/net/wlan0/device")
    os.symlink(f"{root}/sys/bus/drivers/iwlwifi", f"{device}/driver")
    os.symlink(f"{root}/sys/devices/ieee80211/phy0", f"{device}/net/wlan0/phy80211")
    with open(f"{device}/net/wlan0/type", "w") as file:
        file.write("1\n")
    with open(f"{device}/net/wlan0/uevent", "w") as file:
        file.write("INTERFACE=wlan0\nDEVTYPE=wlan\n")
    os.symlink("../../devices/pci0000:00/0000:00:01.0/net/wlan0", f"{root}/sys/class/net/wlan0")
    for table in ("route", "ipv6_route"):
        open(f"{root}/proc-net/{table}", "w").close()
    return {"ZENTREL_SYSFS_ROOT": f"{root}/sys", "ZENTREL_PROC_NET_ROOT": f"{root}/proc-net"}


def app_environment(scratch, name, settings, language, install_icons=False):
    home = os.path.join(scratch, name)
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", GSETTINGS_BACKEND="keyfile",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", HOME=home,
               XDG_CONFIG_HOME=f"{home}/config", XDG_STATE_HOME=f"{home}/state",
               XDG_DATA_HOME=f"{home}/data",
               XDG_RUNTIME_DIR=f"{home}/run", PATH=f"{scratch}/bin:{os.environ['PATH']}")
    for variable in ("XDG_CURRENT_DESKTOP", "LC_ALL", "LC_MESSAGES", "LANGUAGE"):
        env.pop(variable, None)
    env.update(language)
    os.makedirs(f"{home}/config/zentrel")
    if install_icons:  # as the package installs them, for hosts that load icons by name
        icons = f"{home}/data/icons/hicolor/scalable/status"
        os.makedirs(icons)
        for state in ("", "-disconnected"):
            shutil.copy(f"{RESOURCES}/vpn{state}.svg", f"{icons}/zentrel-vpn{state}-symbolic.svg")
    os.makedirs(f"{home}/run", mode=0o700)
    if settings:
        with open(f"{home}/config/zentrel/zentrel-vpn.conf", "w") as file:
            file.write("[General]\n" + "".join(f"{k}={v}\n" for k, v in settings.items()))
    return env


def start(app, env, panel):
    known = len(panel.items)
    process = subprocess.Popen([app], env=env)
    if not wait_for(lambda: len(panel.items) > known or process.poll() is not None):
        process.kill()
        raise RuntimeError("the application never registered its tray icon")
    return process, panel.items[known]


def quit_from_menu(panel, service, process, label):
    panel.click(service, label)
    try:
        expect(process.wait(10) == 0, f"exit status {process.returncode} after {label!r}")
    except subprocess.TimeoutExpired:
        process.kill()
        expect(False, f"still running after {label!r}")


def form_as_a_screen_reader_reads_it(app, env):
    """Opens the preferences window (a second start wakes the first) and reads every control
    of the form through AT-SPI."""
    import pyatspi  # after the session bus exists: it finds the accessibility bus through it

    subprocess.run([app], env=env, timeout=20, check=True)

    def preferences_window():
        for application in pyatspi.Registry.getDesktop(0):
            if application is None or application.name != "Zentrel VPN":
                continue
            for window in application:
                if window is not None and window.name == "Zentrel VPN Preferences":
                    return window
        return None

    window = wait_for(preferences_window)
    if not expect(window is not None, "no accessible window 'Zentrel VPN Preferences'"):
        return
    roles = {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_COMBO_BOX,
             pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_SPIN_BUTTON}
    controls = pyatspi.findAllDescendants(window, lambda node: node.getRole() in roles)

    def label(node):
        for relation in node.getRelationSet():
            if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
                return relation.getTarget(0).name
        return None

    # Role, name and label, as a screen reader announces a control. Qt gives a combo box its
    # value as name and its label only as the relation.
    named = sorted((node.getRoleName(), node.name, label(node)) for node in controls)
    custom = "Custom (complete path):"
    preview = "Zentrel VPN will run these commands when connecting:"  # its group box's title
    wanted = sorted([
        ("text", "Username:", "Username:"), ("text", "Server:", "Server:"),
        ("text", "Port:", "Port:"),
        ("radio button", "Default private key in ~/.ssh", "Private key:"),
        ("radio button", custom, None), ("text", custom, None),
        ("combo box", "Wi-Fi", "Network service:"),
        ("text", preview, preview)])
    expect(named == wanted, f"accessible controls {named}, wanted {wanted}")


def main(app):
    panel = Panel()
    with tempfile.TemporaryDirectory(prefix="zentrel-desktop-") as scratch:
        display = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24",
                                    "-nolisten", "tcp"], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        try:
            os.environ["DISPLAY"] = ":" + display.stdout.readline().decode().strip()
            # ssh that stays up and says nothing, as a tunnel does.
            os.makedirs(f"{scratch}/bin")
            with open(f"{scratch}/bin/ssh", "w") as file:
                file.write("#!/bin/bash\necho $$ >\"$SSH_PID_FILE\"\nexec sleep 300\n")
            os.chmod(f"{scratch}/bin/ssh", 0o755)

            english = app_environment(
                scratch, "english",
                {"username": "demo", "server": "vpn.example.org", "port": 2222,
                 "networkService": "Wi-Fi"},
                {"LANG": "C.UTF-8"}, install_icons=True)
            english.update(fake_wifi(f"{scratch}/english"), SSH_PID_FILE=f"{scratch}/ssh.pid")
            process, service = start(app, english, panel)
            expect(panel.tooltip(service) == f"Zentrel VPN {DASH} Not connected",
                   f"tooltip before connecting: {panel.tooltip(service)!r}")
            expect(panel.item_property(service, "IconName") == "zentrel-vpn-disconnected-symbolic",
                   f"icon name before connecting: {panel.item_property(service, 'IconName')!r}")
            form_as_a_screen_reader_reads_it(app, english)

            panel.click(service, "Connect")
            connected = f"Zentrel VPN {DASH} Connected to demo@vpn.example.org (port 2222)"
            expect(wait_for(lambda: panel.tooltip(service) == connected),
                   f"tooltip once connected: {panel.tooltip(service)!r}")
            expect(panel.item_property(service, "IconName") == "zentrel-vpn-symbolic",
                   f"icon name once connected: {panel.item_property(service, 'IconName')!r}")
            panel.click(service, "Disconnect")
            expect(wait_for(lambda: panel.tooltip(service) == f"Zentrel VPN {DASH} Not connected"),
                   f"tooltip after disconnecting: {panel.tooltip(service)!r}")
            with open(f"{scratch}/ssh.pid") as file:
                ssh = int(file.read())
            expect(wait_for(lambda: not os.path.exists(f"/proc/{ssh}")), "ssh left running")
            quit_from_menu(panel, service, process, "Quit Zentrel VPN")

            # German, as a user whose locale may not even be generated gets it.
            german = app_environment(scratch, "german", None,
                                     {"LANG": "de_DE.UTF-8", "LANGUAGE": "de_DE:de"})
            process, service = start(app, german, panel)
            entries = set(panel.menu(service)[0])
            wanted = {"Nicht eingerichtet", "Einstellungen für Zentrel VPN\u2026", "",
                      "Zentrel VPN beenden"}
            expect(entries == wanted, f"German menu {sorted(entries)}, wanted {sorted(wanted)}")
            expect(panel.tooltip(service) == f"Zentrel VPN {DASH} Nicht eingerichtet",
                   f"German tooltip: {panel.tooltip(service)!r}")
            # Not installed: no name a host could fail to find, only our pixels.
            expect(panel.item_property(service, "IconName") == "", "icon name without the theme")
            pixmaps = panel.item_property(service, "IconPixmap")
            sizes = {(width, height) for width, height, _ in pixmaps}
            expect({(16, 16), (22, 22)} <= sizes, f"icon pixmaps {sorted(sizes)}")
            quit_from_menu(panel, service, process, "Zentrel VPN beenden")

            # English before German in the user's list: English, though German is there.
            english_first = app_environment(scratch, "english-first", None,
                                            {"LANG": "de_DE.UTF-8", "LANGUAGE": "en_GB:de"})
            process, service = start(app, english_first, panel)
            entries = set(panel.menu(service)[0])
            expect("Quit Zentrel VPN" in entries, f"menu for en_GB:de {sorted(entries)}")
            quit_from_menu(panel, service, process, "Quit Zentrel VPN")
        finally:
            display.terminate()
            display.wait()
    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
