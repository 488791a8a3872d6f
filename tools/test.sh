#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: in a plain build and in a build
# with AddressSanitizer and UndefinedBehaviorSanitizer. Fails on any failure or sanitizer report.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash tools/install_deps.sh

echo "=== plain build ==="
bash tools/build.sh build
(cd build && ctest --output-on-failure -j 2)

echo "=== AddressSanitizer + UndefinedBehaviorSanitizer build ==="
# The sanitizer build reuses the plain build's dfu-util cache: no second download.
bash tools/build.sh build-sanitize -DORVANTA_SANITIZE=ON -DORVANTA_DFU_UTIL_CACHE="$top/build/dfu-util-0.9"
(cd build-sanitize && ctest --output-on-failure -j 2)

# === Debian package (tools/package.sh, tools/test_package.sh) ===================================
# A clean release tree of the installed program (dfu-util from the plain build's cache), its
# package checked, installed, started by an unprivileged user in simulator mode, and purged.
echo "=== Debian package ==="
package_log=$(mktemp)
bash tools/package.sh build-package -DORVANTA_DFU_UTIL_CACHE="$top/build/dfu-util-0.9" | tee "$package_log"
bash tools/test_package.sh "$(tail -n 1 "$package_log")"
rm -f "$package_log"
