"""What the desktop tests share: a minimal panel (a StatusNotifierWatcher and host on the
session bus that reads and drives the application's StatusNotifierItem), the application's
private environment, an Xvfb display, AT-SPI look-ups and the checks' bookkeeping. Run under
dbus-run-session: AT-SPI finds its bus through the session bus."""

import contextlib
import os
import shutil
import subprocess
import sys
import time

import pyatspi
from gi.repository import Gio, GLib

DASH = "\u2014"
HERE = os.path.dirname(os.path.abspath(__file__))
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
started = []  # every application process, ended with the display at the latest


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

        def finish(bus, reply):
            try:
                result["reply"] = bus.call_finish(reply)
            except GLib.Error as error:
                result["reply"] = error
        self.bus.call(destination, path, interface, method, arguments, None,
                      Gio.DBusCallFlags.NONE, 10000, None, finish)
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
        if expect(label in entries, f"no menu entry {label!r} in {sorted(entries)}"):
            self.call(service, path, "com.canonical.dbusmenu", "Event",
                      GLib.Variant("(isvu)", (entries[label], "clicked", GLib.Variant("i", 0), 0)))


def app_environment(scratch, name, settings, language, install_icons=False):
    """A home of its own with the settings given, the scratch bin first on PATH, and one
    Wi-Fi interface for the helper to find."""
    home = os.path.join(scratch, name)
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", GSETTINGS_BACKEND="keyfile",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", HOME=home,
               XDG_CONFIG_HOME=f"{home}/config", XDG_STATE_HOME=f"{home}/state",
               XDG_DATA_HOME=f"{home}/data", XDG_RUNTIME_DIR=f"{home}/run",
               PATH=f"{scratch}/bin:{os.environ['PATH']}", ZENTREL_SYSFS_ROOT=f"{home}/net/sys",
               ZENTREL_PROC_NET_ROOT=f"{home}/net/proc", **language)
    for variable in ("XDG_CURRENT_DESKTOP", "LC_ALL", "LC_MESSAGES", "LANGUAGE"):
        if variable not in language:
            env.pop(variable, None)
    os.makedirs(f"{home}/config/zentrel")
    os.makedirs(f"{home}/run", mode=0o700)
    subprocess.run([f"{HERE}/../support/testlib.sh", f"{home}/net"], check=True)
    if install_icons:  # as the package installs them, for hosts that load icons by name
        icons = f"{home}/data/icons/hicolor/scalable/status"
        os.makedirs(icons)
        for state in ("", "-disconnected"):
            shutil.copy(f"{HERE}/../../resources/vpn{state}.svg",
                        f"{icons}/zentrel-vpn{state}-symbolic.svg")
    if settings:
        with open(f"{home}/config/zentrel/zentrel-vpn.conf", "w") as file:
            file.write("[General]\n" + "".join(f"{k}={v}\n" for k, v in settings.items()))
    return env


def start(app, env, panel, **options):
    """Starts the application (Popen options as given) and waits for its tray icon."""
    known = len(panel.items)
    process = subprocess.Popen([app], env=env, **options)
    started.append(process)
    if not wait_for(lambda: len(panel.items) > known or process.poll() is not None):
        process.kill()
        raise RuntimeError("the application never registered its tray icon")
    return process, panel.items[known]


def quit_from_menu(panel, service, process, label="Quit Zentrel VPN"):
    panel.click(service, label)
    try:
        expect(process.wait(10) == 0, f"exit status {process.returncode} after {label!r}")
    except subprocess.TimeoutExpired:
        process.kill()
        expect(False, f"still running after {label!r}")


@contextlib.contextmanager
def xvfb(size="1024x768"):
    """An X server of its own, made the display of everything started from here on."""
    display = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", f"{size}x24",
                                "-nolisten", "tcp"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    try:
        os.environ["DISPLAY"] = ":" + display.stdout.readline().decode().strip()
        yield
    finally:
        for process in started + [display]:
            process.kill()
            process.wait()


def install_tool(folder, name, script):
    os.makedirs(folder, exist_ok=True)
    with open(f"{folder}/{name}", "w") as file:
        file.write("#!/bin/bash\n" + script)
    os.chmod(f"{folder}/{name}", 0o755)


def accessible_windows(title):
    """The application's top-level windows titled `title`, as a screen reader finds them."""
    found = []
    for application in pyatspi.Registry.getDesktop(0):
        try:
            if application is not None and application.name == "Zentrel VPN":
                found += [window for window in application
                          if window is not None and window.name == title]
        except GLib.Error:
            pass  # one that is just ending
    return found


def outcome():
    """The exit status of a test script: 0 when every check held."""
    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        return 1
    print("all checks passed")
    return 0
