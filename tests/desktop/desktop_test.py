"""The application as the desktop sees it, on tests/support/with-display's X server and a
private session bus (run it under dbus-run-session; AT-SPI finds its bus through it). A minimal
panel (a StatusNotifierWatcher and host) reads and drives its StatusNotifierItem, a screen
reader's AT-SPI reads its windows: the tray in each state, the form, German; then a hostile
server, a held lock, a flooded instance socket, a PATH that names the current folder, and the
end of an X11 session. Each case reports on its own.

Usage: with-own-home with-display dbus-run-session -- python3 desktop_test.py ZENTREL_VPN_BINARY
       SESSION_MANAGER_BINARY
"""

import os
import pwd
import re
import resource
import shutil
import signal
import socket
import struct
import queue
import subprocess
import sys
import tempfile
import threading
import time
import traceback

import pyatspi
from gi.repository import Gio, GLib

DASH = "\u2014"
SCREEN = (1024, 768)  # with-display's
BANNER = ("<h2>Session expired</h2> Sign in again at "
          "<a href='http://evil.example/phish'>https://intranet.example/login</a>")
LONG_LINE = "W" * 69  # wide glyphs, a line just too long for the box: the most lines per text
# ssh that stays up, says nothing, listens on its SOCKS port itself and holds a connection of
# its own (to itself, standing in for the server), as a tunnel does. Its pid goes to $SSH_PIDS.
QUIET_SSH = ("echo $$ >>\"$SSH_PIDS\"\nexec python3 -c 'import socket, sys, time; s = socket.socket(); "
             "s.bind((\"127.0.0.1\", int(sys.argv[1]))); s.listen(); "
             "server = socket.create_server((\"127.0.0.1\", 0)); "
             "link = socket.create_connection(server.getsockname()); time.sleep(300)' "
             "\"${1#-NTCD}\"\n")
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
started = []  # every application process, ended with its case at the latest
current_case = ""


def expect(condition, message):
    if not condition:
        failures.append(message)
        print(f"FAIL ({current_case}): {message}", file=sys.stderr)
    return condition


def patiently(read, tries=5):
    """read(), again after a growing pause while the desktop's reply is late, as a screen reader
    waits for a busy application rather than giving up on it. A late count of children comes
    as -1, which list() refuses with a ValueError."""
    for attempt in range(tries):
        try:
            return read()
        except (GLib.Error, ValueError) as error:
            late = isinstance(error, ValueError) or "Did not receive a reply" in str(error)
            if not late or attempt == tries - 1:
                raise
            wait_for(lambda: False, 0.25 * 2 ** attempt)  # the GLib loop runs meanwhile


def wait_for(predicate, seconds=60):
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

    def shows(self, service, tooltip):
        """The tooltip is `tooltip`, and, for a tunnel that is up, how long and its round trip."""
        up = rf" {DASH} (under a minute|\d+ min), \d+ ms" if "Connected" in tooltip else ""
        return re.fullmatch(re.escape(tooltip) + up, self.tooltip(service))

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
    """A home of its own (the XDG folders in their usual places in it) with the settings given,
    the scratch bin first on PATH, and one Wi-Fi interface for the helper to find."""
    home = os.path.join(scratch, name)
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", HOME=home,
               SSH_PIDS=f"{scratch}/ssh.pids",
               XDG_RUNTIME_DIR=f"{home}/run", PATH=f"{scratch}/bin:{os.environ['PATH']}",
               ZENTREL_SYSFS_ROOT=f"{home}/net/sys", ZENTREL_PROC_NET_ROOT=f"{home}/net/proc",
               **language)
    for variable in ("XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                     "LC_ALL", "LC_MESSAGES", "LANGUAGE"):
        if variable not in language:
            env.pop(variable, None)
    os.makedirs(f"{home}/.config/zentrel")
    os.makedirs(f"{home}/run", mode=0o700)
    subprocess.run([f"{HERE}/../support/testlib.sh", f"{home}/net"], check=True)
    if install_icons:  # as the package installs them, for hosts that load icons by name
        icons = f"{home}/.local/share/icons/hicolor/scalable/status"
        os.makedirs(icons)
        for state in ("", "-disconnected"):
            shutil.copy(f"{HERE}/../../resources/vpn{state}.svg",
                        f"{icons}/zentrel-vpn{state}-symbolic.svg")
    if settings:
        with open(f"{home}/.config/zentrel/zentrel-vpn.conf", "w") as file:
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


def expect_ends(process, after):
    """Waits with the GLib loop running: an application that asks our panel on its way out
    is answered."""
    if expect(wait_for(lambda: process.poll() is not None, 10), f"still running after {after}"):
        expect(process.returncode == 0, f"exit status {process.returncode} after {after}")


def quit_from_menu(panel, service, process, label="Quit Zentrel VPN"):
    panel.click(service, label)
    expect_ends(process, repr(label))


def stand_ins(scratch):
    """The stand-in ssh started so far, oldest first."""
    with open(f"{scratch}/ssh.pids", "a+") as file:
        file.seek(0)
        return [int(line) for line in file]


def end_stand_ins(scratch):
    """A case cut short leaves its ssh holding the port; the next case needs it free."""
    for pid in stand_ins(scratch):
        try:
            with open(f"/proc/{pid}/environ", "rb") as file:
                if scratch.encode() in file.read():
                    os.kill(pid, signal.SIGKILL)
        except OSError:
            pass  # long gone


def install_tool(folder, name, script):
    os.makedirs(folder, exist_ok=True)
    with open(f"{folder}/{name}", "w") as file:
        file.write("#!/bin/bash\n" + script)
    os.chmod(f"{folder}/{name}", 0o755)


def accessible_windows(title):
    """Our running applications' top-level windows titled `title`, as a screen reader finds
    them. Only ours: an application that has just ended is waited for until a deadline."""
    ours = {process.pid for process in started if process.poll() is None}

    def pid(application):
        try:
            return application.get_process_id()
        except GLib.Error:
            return None  # gone from the bus
    return [window for application in patiently(lambda: list(pyatspi.Registry.getDesktop(0)))
            if application is not None and pid(application) in ours
            for window in patiently(lambda: list(application))
            if window is not None and window.name == title]


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

    # The window may be announced before its form is, and the form in parts: wait for the
    # controls, as a reader does.
    named = lambda: patiently(lambda: sorted((node.getRoleName(), node.name, label(node))
                                             for node in descendants(window, *roles)))
    # Qt gives a combo box its value as name and its label only as the relation.
    custom = "Custom (complete path):"
    preview = "Zentrel VPN will run these commands when connecting:"  # its group box's title
    wanted = sorted([
        ("text", "Username:", "Username:"), ("text", "Server:", "Server:"),
        ("text", "Port:", "Port:"),
        ("radio button", "Default private key in ~/.ssh", "Private key:"),
        ("radio button", custom, None), ("text", custom, None),
        ("combo box", "Wi-Fi", "Network service:"), ("text", preview, preview)])
    expect(wait_for(lambda: named() == wanted), f"accessible controls {named()}, wanted {wanted}")


def expect_item(panel, service, tooltip, icon_name):
    """The tooltip (waited for) and the icon's theme name, as the panel reads them."""
    expect(wait_for(lambda: panel.shows(service, tooltip)),
           f"tooltip {panel.tooltip(service)!r}, wanted {tooltip!r}")
    name = panel.item_property(service, "IconName")
    expect(name == icon_name, f"icon name {name!r}, wanted {icon_name!r}")


def the_tray_and_the_form_as_the_desktop_sees_them(app, panel, scratch):
    install_tool(f"{scratch}/bin", "ssh", QUIET_SSH)
    english = app_environment(scratch, "english", {
        "username": "demo", "server": "vpn.example.org", "port": 2222,
        "networkService": "Wi-Fi"}, {"LANG": "C.UTF-8"}, install_icons=True)
    process, service = start(app, english, panel)
    off = (f"Zentrel VPN {DASH} Not connected", "zentrel-vpn-disconnected-symbolic")
    expect_item(panel, service, *off)
    form_as_a_screen_reader_reads_it(app, english)
    panel.click(service, "Connect")
    expect_item(panel, service, f"Zentrel VPN {DASH} Connected to demo@vpn.example.org "
                "(port 2222)", "zentrel-vpn-symbolic")
    panel.click(service, "Disconnect")
    expect_item(panel, service, *off)
    ssh = stand_ins(scratch)[-1]
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


def configured(scratch, name, **variables):
    return dict(app_environment(scratch, name, {"username": "demo", "server": "vpn.example.org",
                                                "networkService": "Wi-Fi"}, {"LANG": "C.UTF-8"}),
                **variables)


def descendants(node, *roles):
    """The node's descendants in these roles; none while it comes or goes."""
    try:
        return patiently(lambda: pyatspi.findAllDescendants(
            node, lambda child: child.getRole() in roles))
    except (GLib.Error, TypeError, AttributeError):
        return []


def message_box(fragment):
    """The message box with a label that contains `fragment`: the box, that label's text and
    the other labels' (the informative text)."""
    for window in accessible_windows("Zentrel VPN"):
        try:
            # Long runs carry invisible places to wrap; the reader sees the text without them.
            labels = patiently(lambda: [label.name.replace("\u200b", "")
                                        for label in descendants(window, pyatspi.ROLE_LABEL)])
        except GLib.Error:
            continue  # closing
        matched = [label for label in labels if fragment in label]
        if matched:
            return window, matched[0], "".join(label for label in labels if label != matched[0])
    return None


def press(window, button):
    """Presses the button once the reader sees it: a new box's children may come later."""
    node = wait_for(lambda: next((node for node in descendants(window, pyatspi.ROLE_PUSH_BUTTON)
                                  if patiently(lambda: node.name).startswith(button)), None))
    if expect(node, f"no button {button!r}"):
        patiently(lambda: node.queryAction().doAction(0))


def outside_the_screen(window):
    """Where the window is, if any of it is off the screen; None if it fits."""
    box = patiently(lambda: window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS))
    inside = 0 <= box.x <= SCREEN[0] - box.width and 0 <= box.y <= SCREEN[1] - box.height
    return None if inside else (box.x, box.y, box.width, box.height)


def dismiss(window, fragment):
    """Presses OK and waits until the box is gone, so that a later look finds no ghost."""
    press(window, "OK")
    expect(wait_for(lambda: not message_box(fragment)), f"the box with {fragment!r} stays")


def ssh_output_is_plain_text(app, panel, scratch):
    # The first connect meets a banner of markup in colour, the next 10 MB of long lines;
    # then ssh gives up.
    install_tool(f"{scratch}/bin", "ssh", f"""if [ -e "$TOLD" ]; then
    yes {LONG_LINE} | head -c 10000000
else
    touch "$TOLD"; printf '\\e[1;31m%s\\e[0m\\n' "$BANNER"
fi
exit 255
""")
    env = configured(scratch, "alerts", TOLD=f"{scratch}/told", BANNER=BANNER)
    process, service = start(app, env, panel)

    panel.click(service, "Connect")
    found = wait_for(lambda: message_box("SSH Error"))
    if expect(found, "no 'SSH Error' alert for the banner"):
        alert, _, text = found
        expect(text == BANNER, f"the banner shown as {text!r}")  # as text, no markup taken
        expect(not outside_the_screen(alert), f"the banner's alert at {outside_the_screen(alert)}")
        dismiss(alert, "SSH Error")

    panel.click(service, "Connect")
    found = wait_for(lambda: message_box("SSH Error"))
    if expect(found, "no 'SSH Error' alert for 10 MB"):
        alert, _, shown = found
        press(alert, "Show Details")
        details = wait_for(lambda: patiently(lambda: [
            node.queryText().getText(0, -1) for node in descendants(alert, pyatspi.ROLE_TEXT)
            if node.getState().contains(pyatspi.STATE_SHOWING)]))
        details = details[0] if details else ""
        expect(shown.endswith("\u2026") and len(shown) <= 2001, f"{len(shown)} characters shown")
        expect(set(shown[:-1]) <= set(LONG_LINE + "\n") and shown.startswith(LONG_LINE + "\n"),
               f"shown text {shown[:100]!r}")
        expect(details.startswith(shown[:-1]) and len(shown) < len(details) <= 65538,
               f"{len(details)} characters in the details")
        expect(wait_for(lambda: not outside_the_screen(alert), 3),
               f"the 10 MB alert at {outside_the_screen(alert)}")
        dismiss(alert, "SSH Error")
    quit_from_menu(panel, service, process)


def tray_answers_while_the_helper_waits(app, panel, scratch):
    install_tool(f"{scratch}/bin", "ssh", QUIET_SSH)
    # Shorter than the helper's own wait for its lock (3 s), which would end the command first.
    env = configured(scratch, "locked", ZENTREL_COMMAND_DEADLINE_MS="2500")
    state = f"{env['HOME']}/.local/state/zentrel-vpn"
    os.makedirs(state, mode=0o700)
    holder = subprocess.Popen(["flock", f"{state}/lock", "sh", "-c",
                               f"touch {scratch}/locked-now; exec sleep 60"],
                              start_new_session=True)
    try:
        wait_for(lambda: os.path.exists(f"{scratch}/locked-now"))
        process, service = start(app, env, panel)
        panel.click(service, "Connect")
        clicked = time.monotonic()
        first_answer, found = None, None
        while not found and time.monotonic() - clicked < 40:
            panel.menu(service)
            panel.tooltip(service)
            first_answer = first_answer or time.monotonic() - clicked
            found = message_box("The proxy setting could not be changed")
        waited = time.monotonic() - clicked
        # A tray held up by the two commands would not answer before both had ended (5 s).
        expect(first_answer is not None and first_answer < 4,
               f"the tray first answered {first_answer} s after the click, while the helper waited")
        if expect(found, "no warning about the proxy commands that waited for the lock"):
            expect(waited >= 2.5, f"reported after {waited:.2f} s, before the deadline")
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
    # Beside its lock, in the home the password database names (with-own-home's scratch one).
    path = f"{pwd.getpwuid(os.getuid()).pw_dir}/.local/state/zentrel-vpn/zentrel-vpn.socket"
    wait_for(lambda: os.path.exists(path))
    clients, connected = [], 0
    for _ in range(1100):
        client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        # Blocking, so that each waits its turn to be taken; a second at most.
        client.setsockopt(socket.SOL_SOCKET, socket.SO_SNDTIMEO, struct.pack("ll", 1, 0))
        clients.append(client)
        try:
            client.connect(path)
            connected += 1
        except OSError:
            pass
    print(f"{connected} of 1,100 idle clients connected")
    expect(connected >= 1000, f"only {connected} of 1,100 idle clients connected: no flood")
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
    failed = "The proxy setting could not be changed"
    warning = wait_for(lambda: message_box(failed))
    if expect(warning, "no warning that the proxy commands failed"):
        dismiss(warning[0], failed)
    expect(not os.path.exists(marker), "a networksetup in the current folder ran")
    # The proxy cannot be switched off either: Quit ends once the user has read that.
    panel.click(service, "Quit Zentrel VPN")
    warning = wait_for(lambda: message_box(failed), 40)
    if expect(warning and process.poll() is None, "Quit did not wait for its warning"):
        press(warning[0], "OK")
    expect_ends(process, "Quit's warning was read")


def only_the_end_of_the_session_disconnects(app, panel, scratch):
    """A session that is saved, or a logout the user cancels, leaves the tunnel up; the
    session's real end disconnects before we go."""
    install_tool(f"{scratch}/bin", "ssh", QUIET_SSH)
    session = subprocess.Popen([SESSION_MANAGER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               text=True)
    started.append(session)
    # Its lines are read beside the GLib loop: our panel must go on answering the application.
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line.strip()) for line in session.stdout],
                     daemon=True).start()
    said = lambda: wait_for(lambda: not lines.empty()) and lines.get()
    env = configured(scratch, "session", SESSION_MANAGER=said())
    proxy_mode = lambda: subprocess.run(["gsettings", "get", "org.gnome.system.proxy", "mode"],
                                        env=env, capture_output=True, text=True).stdout.strip()
    process, service = start(app, env, panel)
    expect(said() == "registered", "no session manager client")
    panel.click(service, "Connect")
    connected = f"Zentrel VPN {DASH} Connected to demo@vpn.example.org (port 6969)"
    expect(wait_for(lambda: panel.shows(service, connected)), "never connected")
    for command, answer in (("checkpoint", "saved"), ("cancel", "cancelled"), ("logout", "gone")):
        session.stdin.write(command + "\n")
        session.stdin.flush()
        expect(said() == answer, f"the session manager's {command}")
        if command != "logout":
            ended = wait_for(lambda: process.poll() is not None, 1)
            expect(not ended and panel.shows(service, connected)
                   and proxy_mode() == "'manual'", f"the tunnel after a {command}")
    expect_ends(process, "the session's end")
    ssh = stand_ins(scratch)[-1]
    expect(not os.path.exists(f"/proc/{ssh}") and proxy_mode() == "'none'",
           f"at the session's end: ssh {ssh} still there or the proxy {proxy_mode()}")


CASES = [the_tray_and_the_form_as_the_desktop_sees_them, ssh_output_is_plain_text,
         tray_answers_while_the_helper_waits, flooded_instance_socket_still_answers,
         a_stray_networksetup_never_runs, only_the_end_of_the_session_disconnects]


def main(app):
    global current_case
    panel, failed = Panel(), 0
    with tempfile.TemporaryDirectory(prefix="zentrel-desktop-") as scratch:
        for case in CASES:
            current_case, before = case.__name__, len(failures)
            try:
                case(app, panel, scratch)
            except Exception as error:  # the case ends here; the next one still runs
                expect(False, "".join(traceback.format_exception(error)))
            for process in started:  # a case cut short leaves its application running
                process.kill()
                process.wait()
            started.clear()
            end_stand_ins(scratch)
            failed += len(failures) > before
            print(f"{'FAIL' if len(failures) > before else 'PASS'}: {case.__name__}")
    print(f"{len(CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    SESSION_MANAGER = sys.argv[2]
    sys.exit(main(sys.argv[1]))
