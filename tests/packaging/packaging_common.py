"""Checks shared by the install-tree and Debian package tests."""

import configparser
import os
import shutil
import subprocess
import xml.etree.ElementTree as ElementTree

SKIP = 77


class Checks:
    """Collects failures so one run reports every broken piece, not just the first."""

    def __init__(self):
        self.failures = []
        self.missing_tools = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition

    def tool(self, name):
        path = shutil.which(name)
        if not path:
            self.missing_tools.append(name)
        return path

    def run_tool(self, args, what):
        result = subprocess.run(args, capture_output=True, text=True)
        self.expect(result.returncode == 0,
                    f"{what} failed ({result.returncode}):\n{result.stdout}{result.stderr}")
        return result

    def finish(self):
        for failure in self.failures:
            print("FAIL:", failure)
        if self.failures:
            return 1
        if self.missing_tools:
            print("SKIP: not installed:", ", ".join(self.missing_tools))
            return SKIP
        print("all checks passed")
        return 0


def read_desktop_entry(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str  # keys are case-sensitive
    parser.read(path, encoding="utf-8")
    return parser["Desktop Entry"]


def check_desktop_integration(checks, share, version):
    """Desktop entry, icon and AppStream metadata under an installed share/ directory.

    Returns the files they should be, relative to share/, or None when they cannot be named.
    """
    applications = os.path.join(share, "applications")
    metainfo_dir = os.path.join(share, "metainfo")
    desktop_files = sorted(os.listdir(applications)) if os.path.isdir(applications) else []
    metainfo_files = sorted(os.listdir(metainfo_dir)) if os.path.isdir(metainfo_dir) else []
    if not checks.expect(len(desktop_files) == 1, f"one desktop entry, found {desktop_files}"):
        return None
    if not checks.expect(len(metainfo_files) == 1, f"one metainfo file, found {metainfo_files}"):
        return None
    desktop_name, metainfo_name = desktop_files[0], metainfo_files[0]
    desktop_path = os.path.join(applications, desktop_name)
    metainfo_path = os.path.join(metainfo_dir, metainfo_name)

    component = ElementTree.parse(metainfo_path).getroot()
    app_id = component.findtext("id")
    checks.expect(component.get("type") == "desktop-application",
                  f"component type {component.get('type')}")
    checks.expect(metainfo_name == f"{app_id}.metainfo.xml",
                  f"metainfo file {metainfo_name} not named after its id {app_id}")
    checks.expect(desktop_name == f"{app_id}.desktop",
                  f"desktop entry {desktop_name} not named after the AppStream id {app_id}")
    launchables = [l.text for l in component.findall("launchable[@type='desktop-id']")]
    checks.expect(launchables == [desktop_name],
                  f"launchable {launchables} does not name {desktop_name}")
    releases = [r.get("version") for r in component.findall("releases/release")]
    checks.expect(version in releases,
                  f"metainfo releases {releases} lack the project version {version}")
    checks.expect(component.findtext("metadata_license") == "MIT", "metadata licence not MIT")
    checks.expect(component.find("content_rating") is not None, "no content rating")

    entry = read_desktop_entry(desktop_path)
    checks.expect(entry.get("Type") == "Application", "desktop entry Type")
    checks.expect(entry.get("Name") == "Zentrel VPN", f"desktop Name {entry.get('Name')}")
    checks.expect(entry.get("Exec", "").split()[:1] == ["zentrel-vpn"],
                  f"desktop Exec {entry.get('Exec')}")
    checks.expect(entry.get("Terminal") == "false", "desktop entry runs in a terminal")
    checks.expect("Network" in entry.get("Categories", "").split(";"), "not in Network")
    checks.expect(bool(entry.get("GenericName")) and bool(entry.get("Comment")),
                  "desktop entry lacks GenericName or Comment")

    icon_name = entry.get("Icon", "")
    icon_file = f"icons/hicolor/scalable/apps/{icon_name}.svg"
    icon_path = os.path.join(share, icon_file)
    if checks.expect(os.path.isfile(icon_path), f"Icon={icon_name} has no scalable icon"):
        svg = ElementTree.parse(icon_path).getroot()
        checks.expect(svg.tag == "{http://www.w3.org/2000/svg}svg", f"icon root {svg.tag}")
        box = svg.get("viewBox", "").split()
        checks.expect(len(box) == 4 and box[2] == box[3], f"icon viewBox {box} not square")

    validator = checks.tool("desktop-file-validate")
    if validator:
        result = checks.run_tool([validator, desktop_path], "desktop-file-validate")
        checks.expect(not result.stdout.strip(), f"desktop-file-validate: {result.stdout}")
    appstream = checks.tool("appstreamcli")
    if appstream:
        checks.run_tool([appstream, "validate", "--no-net", "--no-color", metainfo_path],
                        "appstreamcli validate")
    return {f"applications/{desktop_name}", f"metainfo/{metainfo_name}", icon_file}
