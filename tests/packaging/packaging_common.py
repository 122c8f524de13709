"""Checks shared by the install-tree and Debian package tests."""

import configparser
import glob
import gzip
import os
import shutil
import subprocess
import xml.etree.ElementTree as ElementTree

# A missing tool skips on a developer's machine; under CI, which installs every tool, it fails.
SKIP = 1 if os.environ.get("CI") else 77
PROGRAMS = ["bin/zentrel-vpn", "libexec/zentrel-vpn/networksetup",
            "libexec/zentrel-vpn/zentrel-vpn-askpass"]
LOGIN_CHECK = "etc/xdg/autostart/org.zentrel.ZentrelVPN.restore-proxy.desktop"
# Under the prefix, beside the desktop files: the tray icons by the names hosts that recolour
# -symbolic icons load them, Debian's places for the license, the changelog and the manual
# pages (gzip-compressed).
FILES = PROGRAMS + [f"share/icons/hicolor/scalable/status/zentrel-vpn{state}-symbolic.svg"
                    for state in ("", "-disconnected")] + [
    "share/doc/zentrel-vpn/copyright", "share/doc/zentrel-vpn/changelog.gz",
    "share/man/man1/zentrel-vpn.1.gz", "share/man/man1/zentrel-vpn-networksetup.1.gz"]


class Checks:
    """Collects failures so one run reports every broken piece, not just the first."""

    def __init__(self):
        self.failures = []
        self.missing_tools = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition

    def have(self, *tools):
        """A tool that is not installed makes the test skip (fail under CI)."""
        self.missing_tools += [tool for tool in tools if not shutil.which(tool)]
        return not self.missing_tools

    def run(self, args):
        if not self.have(args[0]):
            return None
        result = subprocess.run(args, capture_output=True, text=True)
        self.expect(result.returncode == 0, f"{' '.join(args)} failed ({result.returncode}):\n"
                                            f"{result.stdout}{result.stderr}")
        return result

    def finish(self):
        for failure in self.failures:
            print("FAIL:", failure)
        if self.failures:
            return 1
        if self.missing_tools:
            print("FAIL" if os.environ.get("CI") else "SKIP", "- not installed:",
                  ", ".join(self.missing_tools))
            return SKIP
        print("all checks passed")
        return 0


def desktop_entry(path):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str  # keys are case-sensitive
    parser.read(path, encoding="utf-8")
    return parser["Desktop Entry"] if parser.has_section("Desktop Entry") else {}


def check_tree(checks, root, prefix, version):
    """The programs, executable, the documents and the desktop files under root/prefix, the
    autostart entry under root/etc, and nothing else."""
    top, share = os.path.join(root, prefix), os.path.join(root, prefix, "share")
    for program in PROGRAMS:
        checks.expect(os.access(os.path.join(top, program), os.X_OK),
                      f"{program} missing or not executable")
    desktops = glob.glob("applications/*.desktop", root_dir=share)
    metainfos = glob.glob("metainfo/*.metainfo.xml", root_dir=share)
    if not checks.expect(len(desktops) == 1 and len(metainfos) == 1,
                         f"want one desktop entry and one metainfo file: {desktops} {metainfos}"):
        return
    desktop, metainfo = os.path.join(share, desktops[0]), os.path.join(share, metainfos[0])
    login_check = os.path.join(root, LOGIN_CHECK)
    for entry_file in (desktop, login_check):
        result = checks.run(["desktop-file-validate", entry_file])
        checks.expect(not result or not result.stdout.strip(),
                      f"desktop-file-validate: {result and result.stdout}")
    checks.run(["appstreamcli", "validate", "--strict", "--no-net", "--no-color", metainfo])

    # Software centres match the metadata to the entry by name, and show its releases.
    component = ElementTree.parse(metainfo).getroot()
    desktop_id = os.path.basename(desktop)
    checks.expect(component.findtext("launchable[@type='desktop-id']") == desktop_id ==
                  f"{component.findtext('id')}.desktop", f"metainfo does not name {desktop_id}")
    checks.expect(version in [r.get("version") for r in component.iter("release")],
                  f"metainfo releases lack the project version {version}")
    entry, login_entry = desktop_entry(desktop), desktop_entry(login_check)
    checks.expect(entry.get("Exec", "").split()[:1] == ["zentrel-vpn"], f"Exec {entry.get('Exec')}")
    checks.expect(login_entry.get("Exec") == "zentrel-vpn --restore-proxy",
                  f"autostart Exec {login_entry.get('Exec')}")

    changelog = os.path.join(top, "share/doc/zentrel-vpn/changelog.gz")
    if os.path.exists(changelog):
        with gzip.open(changelog, "rt", encoding="utf-8") as text:
            latest = text.readline()
        checks.expect(latest.startswith(f"zentrel-vpn ({version})"),
                      f"the changelog's latest entry is {latest.strip()!r}, not {version}")
    # The icon the entry names: scalable, and rendered for hosts that want a bitmap.
    icon = "share/icons/hicolor/%s/apps/" + f"{entry.get('Icon')}.%s"
    wanted = {os.path.join(prefix, f) for f in FILES + [
        "share/" + desktops[0], "share/" + metainfos[0], icon % ("scalable", "svg")] + [
        icon % (f"{size}x{size}", "png") for size in (48, 64, 128, 256)]} | {LOGIN_CHECK}
    found = {os.path.relpath(os.path.join(directory, name), root)
             for directory, _, names in os.walk(root) for name in names}
    checks.expect(found == wanted, f"installed {sorted(found)}, wanted {sorted(wanted)}")
