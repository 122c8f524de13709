"""Installs the build tree into a temporary prefix and checks what lands where.

Usage: check_install_tree.py CMAKE BUILD_DIR PROJECT_VERSION
"""

import os
import subprocess
import sys
import tempfile

from packaging_common import Checks, check_desktop_integration


def installed_files(prefix):
    found = set()
    for directory, _, files in os.walk(prefix):
        for name in files:
            found.add(os.path.relpath(os.path.join(directory, name), prefix))
    return found


def main(cmake, build_dir, version):
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="zentrel-install-") as prefix:
        checks.run_tool([cmake, "--install", build_dir, "--prefix", prefix], "cmake --install")
        files = installed_files(prefix)
        share = os.path.join(prefix, "share")

        for program in ("bin/zentrel-vpn", "libexec/zentrel-vpn/networksetup"):
            checks.expect(os.access(os.path.join(prefix, program), os.X_OK),
                          f"{program} missing or not executable")

        # The app finds its helper by this path relative to its own executable.
        helper = os.path.join(prefix, "bin", "..", "libexec", "zentrel-vpn", "networksetup")
        if os.access(helper, os.X_OK):
            listing = subprocess.run([helper, "-listallnetworkservices"], capture_output=True,
                                     text=True)
            checks.expect(listing.returncode == 0 and "network service" in listing.stdout,
                          f"installed helper listing failed: {listing.stdout}{listing.stderr}")

        desktop_files = check_desktop_integration(checks, share, version)
        if desktop_files is not None:
            expected = {"bin/zentrel-vpn", "libexec/zentrel-vpn/networksetup"}
            expected |= {f"share/{f}" for f in desktop_files}
            checks.expect(files == expected, f"installed {sorted(files)}, wanted {sorted(expected)}")
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
