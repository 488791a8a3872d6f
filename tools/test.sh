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

# --- fuzzing: every parser fuzz target, briefly ------------------------------------------------
# About 10 s per target, in their own clang build tree. Any finding fails CI and leaves the
# input in build-fuzz/fuzz-artifacts/<name>/; the README says how to run longer.
echo "=== fuzz targets, 10 s each ==="
ORVANTA_DFU_UTIL_CACHE="$top/build/dfu-util-0.9" bash tools/run_fuzzers.sh 10
