"""Installs the build tree into a temporary prefix and checks what lands where.

Usage: check_install_tree.py CMAKE BUILD_DIR PROJECT_VERSION
"""

import sys
import tempfile

from packaging_common import Checks, check_tree


def main(cmake, build_dir, version):
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="zentrel-install-") as prefix:
        checks.run([cmake, "--install", build_dir, "--prefix", prefix])
        check_tree(checks, prefix, "", version)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
