"""Builds the Debian package with CPack into a temporary directory and checks its contents.

Usage: check_debian_package.py CPACK BUILD_DIR PROJECT_VERSION
"""

import os
import re
import subprocess
import sys
import tempfile

from packaging_common import Checks, check_tree

# Linked (found by dpkg-shlibdeps), then loaded at run time (invisible to dpkg-shlibdeps).
DEPENDS = {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6",
           "openssh-client", "qt6-qpa-plugins", "libqt6svg6", "libglib2.0-0"}


def main(cpack, build_dir, version):
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="zentrel-deb-") as out:
        if not checks.have("dpkg-deb", "dpkg-shlibdeps"):
            return checks.finish()
        checks.run([cpack, "--config", os.path.join(build_dir, "CPackConfig.cmake"), "-G", "DEB",
                    "-B", out])
        arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                              text=True).stdout.strip()
        deb = os.path.join(out, f"zentrel-vpn_{version}_{arch}.deb")
        debs = [os.path.join(out, f) for f in os.listdir(out) if f.endswith(".deb")]
        if not checks.expect(debs == [deb], f"packages {debs}, wanted {deb}"):
            return checks.finish()

        # Package names in the field, alternatives included, versions dropped.
        depends = {re.split(r"[\s(:]", alternative.strip())[0]
                   for alternative in re.split(r"[,|]", checks.run(["dpkg-deb", "-f", deb,
                                                                     "Depends"]).stdout)}
        checks.expect(DEPENDS <= depends, f"Depends lacks {sorted(DEPENDS - depends)}")

        # Installed as a user's machine will have it: everything under /usr.
        root = os.path.join(out, "root")
        checks.run(["dpkg-deb", "-x", deb, root])
        checks.expect(os.listdir(root) == ["usr"], f"package outside /usr: {os.listdir(root)}")
        check_tree(checks, root, "usr", version)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
