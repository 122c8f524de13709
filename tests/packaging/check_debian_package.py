"""Builds the Debian package the way the README says (packaging/build-deb) into a temporary
directory, checks its contents and runs lintian on it.

Usage: check_debian_package.py SOURCE_DIR PROJECT_VERSION
"""

import os
import re
import subprocess
import sys
import tempfile

from packaging_common import Checks, check_tree

# Linked (found by dpkg-shlibdeps), then loaded at run time (invisible to dpkg-shlibdeps).
DEPENDS = {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6",
           "openssh-client", "libqt6svg6", "libglib2.0-0"}


def main(source_dir, version):
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="zentrel-deb-") as scratch:
        if not checks.have("dpkg-deb", "dpkg-shlibdeps", "file", "lintian"):
            return checks.finish()
        out = os.path.join(scratch, "packages")
        built = checks.run([os.path.join(source_dir, "packaging", "build-deb"), out,
                            os.path.join(scratch, "build")])
        if not built or built.returncode != 0:
            return checks.finish()
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

        # Debian's own verdict: no error, no warning, and every hardening feature in the
        # programs (those tags are informational, so shown on request).
        lintian = checks.run(["lintian", "--fail-on", "error,warning", "--display-info", deb])
        hardening = [line for line in lintian.stdout.splitlines() if ": hardening-" in line]
        checks.expect(not hardening, "not hardened:\n" + "\n".join(hardening))

        root = os.path.join(scratch, "root")
        checks.run(["dpkg-deb", "-x", deb, root])
        check_tree(checks, root, "usr", version)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
