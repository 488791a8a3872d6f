#!/usr/bin/env bash
# The build checks the firmware it carries whenever the release's content changes, whatever the
# file's date: a release replaced in place by an older broken file stops the build, naming the
# file, and once it is fixed the same tree builds again. A small tree (tests/firmware_build)
# with the main tree's tools, in a temporary directory.
#
# Usage: test_firmware_build.sh <cmake> <source-dir> <check_firmware> <make_firmware>
set -euo pipefail
cmake=$1
source_dir=$2
check_firmware=$3
make_firmware=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

release="$work/release"
mkdir -p "$release"
# The tools run as the build runs them (TOOL_ENV in cmake/Resources.cmake).
ASAN_OPTIONS=detect_leaks=0 "$make_firmware" --revision B9 --seed 0x52454C39 "$release" >/dev/null
bin="$release/firmware.bin"
cp -p "$bin" "$work/good.bin"
# The same release, its stack pointer erased, dated long before the last check.
cp "$bin" "$work/broken.bin"
printf '\377\377\377\377' | dd of="$work/broken.bin" conv=notrunc status=none
touch -d '2000-01-01' "$work/broken.bin" "$work/good.bin"

tree="$work/build"
"$cmake" -S "$source_dir/tests/firmware_build" -B "$tree" -DORVANTA_SOURCE_DIR="$source_dir" \
    -DCHECK_FIRMWARE="$check_firmware" -DMAKE_FIRMWARE="$make_firmware" \
    -DORVANTA_FIRMWARE_BIN="$bin" >/dev/null
build() { "$cmake" --build "$tree" --target carried_firmware >"$work/log" 2>&1; }
carried="$tree/generated/resources"

build || { cat "$work/log"; fail "the good release did not build"; }
# The embedded digest is that of the DfuSe file made from the raw image.
[ "$(cat "$carried/firmware.sha256")" = "$(sha256sum "$release/firmware.dfu" | cut -d' ' -f1)" ] ||
    fail "firmware.sha256 is not the SHA-256 of the carried DfuSe file"

# Nothing changed: the check runs, but leaves its files (and what depends on them) alone.
before=$(stat -c %y "$carried/firmware.dfu")
build || { cat "$work/log"; fail "an unchanged release did not build again"; }
[ "$(stat -c %y "$carried/firmware.dfu")" = "$before" ] || fail "an unchanged check rewrote its files"

cp -p "$work/broken.bin" "$bin"
if build; then
    cat "$work/log"
    fail "a broken release replaced in place by an older file built"
fi
grep -qF "Firmware refused: $bin: its vector table is erased" "$work/log" ||
    { cat "$work/log"; fail "the refusal does not name the file"; }
[ ! -e "$carried/firmware.dfu" ] || fail "the previous release's checked copy was left in place"

cp -p "$work/good.bin" "$bin"
build || { cat "$work/log"; fail "the fixed release did not build in the same tree"; }
cmp -s "$carried/firmware.bin" "$work/good.bin" || fail "the fixed release is not what is carried"
echo "PASS"
