"""Installs the build tree into a temporary prefix and checks what lands where.

Usage: check_install_tree.py CMAKE BUILD_DIR PROJECT_VERSION
"""

import os
import subprocess
import sys
import tempfile

from packaging_common import Checks, check_tree


def main(cmake, build_dir, version):
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="zentrel-install-") as prefix:
        checks.run([cmake, "--install", build_dir, "--prefix", prefix])
        check_tree(checks, prefix, "", version)
        # The app finds its helper by this path relative to its own executable.
        helper = os.path.join(prefix, "bin", "..", "libexec", "zentrel-vpn", "networksetup")
        if os.access(helper, os.X_OK):
            listing = subprocess.run([helper, "-listallnetworkservices"], capture_output=True,
                                     text=True)
            checks.expect(listing.returncode == 0 and "network service" in listing.stdout,
                          f"installed helper listing failed: {listing.stdout}{listing.stderr}")
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
