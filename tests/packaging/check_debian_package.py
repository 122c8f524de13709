"""Builds the Debian package with CPack into a temporary directory and checks its contents.

Usage: check_debian_package.py CPACK BUILD_DIR PROJECT_VERSION
"""

import os
import re
import subprocess
import sys
import tempfile

from packaging_common import Checks, check_desktop_integration

# Found by dpkg-shlibdeps from what the programs link against.
LINKED = {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6"}
# Loaded at run time, invisible to dpkg-shlibdeps.
RUNTIME = {"openssh-client", "qt6-qpa-plugins", "libqt6svg6", "libglib2.0-0"}


def relation_names(field):
    """Package names in a Depends-style field, alternatives included, versions dropped."""
    return {re.split(r"[\s(:]", alternative.strip())[0]
            for group in field.split(",") if group.strip()
            for alternative in group.split("|")}


def main(cpack, build_dir, version):
    checks = Checks()
    dpkg_deb = checks.tool("dpkg-deb")
    if not checks.tool("dpkg-shlibdeps") or not dpkg_deb:
        return checks.finish()
    with tempfile.TemporaryDirectory(prefix="zentrel-deb-") as out:
        checks.run_tool([cpack, "--config", os.path.join(build_dir, "CPackConfig.cmake"),
                         "-G", "DEB", "-B", out], "cpack")
        arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                              text=True).stdout.strip()
        debs = sorted(f for f in os.listdir(out) if f.endswith(".deb"))
        wanted = f"zentrel-vpn_{version}_{arch}.deb"
        if not checks.expect(debs == [wanted], f"packages {debs}, wanted {wanted}"):
            return checks.finish()
        deb = os.path.join(out, wanted)

        def field(name):
            return checks.run_tool([dpkg_deb, "-f", deb, name], f"dpkg-deb -f {name}").stdout.strip()

        checks.expect(field("Package") == "zentrel-vpn", "Package")
        checks.expect(field("Version") == version, f"Version {field('Version')}")
        checks.expect(field("Architecture") == arch, "Architecture")
        checks.expect(field("Section") == "net", f"Section {field('Section')}")
        checks.expect("@" in field("Maintainer"), f"Maintainer {field('Maintainer')}")
        description = field("Description").splitlines()
        checks.expect(len(description) > 1 and description[0].strip(),
                      f"Description needs a synopsis and a body: {description}")
        checks.expect(all(len(line) < 80 for line in description),
                      f"Description lines of 80 columns or more: {description}")
        depends = relation_names(field("Depends"))
        checks.expect(LINKED <= depends, f"Depends lacks linked {sorted(LINKED - depends)}")
        checks.expect(RUNTIME <= depends, f"Depends lacks run-time {sorted(RUNTIME - depends)}")
        recommends = relation_names(field("Recommends"))
        checks.expect({"gsettings-desktop-schemas", "dconf-gsettings-backend"} <= recommends,
                      f"Recommends {sorted(recommends)}")

        listing = checks.run_tool([dpkg_deb, "-c", deb], "dpkg-deb -c").stdout.splitlines()
        entries = {}
        for line in listing:
            mode, owner, *_, path = line.split(maxsplit=5)
            entries[path.split(" -> ")[0].removeprefix(".")] = (mode, owner)
        files = {p for p, (mode, _) in entries.items() if mode.startswith("-")}
        checks.expect(all(p.startswith("/usr/") for p in entries if p != "/"),
                      f"files outside /usr: {sorted(p for p in entries if not p.startswith('/usr'))}")
        checks.expect(all(owner == "root/root" for _, owner in entries.values()),
                      "files not owned by root")
        for program in ("/usr/bin/zentrel-vpn", "/usr/libexec/zentrel-vpn/networksetup"):
            checks.expect(entries.get(program, ("", ""))[0] == "-rwxr-xr-x",
                          f"{program} missing or not mode 755: {entries.get(program)}")

        # The desktop files as they will land on a user's machine.
        root = os.path.join(out, "root")
        checks.run_tool([dpkg_deb, "-x", deb, root], "dpkg-deb -x")
        desktop_files = check_desktop_integration(checks, os.path.join(root, "usr", "share"),
                                                  version)
        if desktop_files is not None:
            expected = {"/usr/bin/zentrel-vpn", "/usr/libexec/zentrel-vpn/networksetup"}
            expected |= {f"/usr/share/{f}" for f in desktop_files}
            checks.expect(files == expected, f"package holds {sorted(files)}, wanted {sorted(expected)}")
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
