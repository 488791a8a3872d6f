#!/usr/bin/env bash
# The build checks the firmware it carries whenever the release's content changes, whatever the
# file's date, and carries only a release signed by a key it trusts: with minisign itself, a
# throwaway key pair signs a B9 release and is added to the trusted set, and the release builds
# with its key id; an unsigned release, a key not trusted, a file changed by one byte after
# signing, an edited trusted comment and a trusted comment naming another revision each stop
# the build with their own message; a broken release replaced in place by an older file stops
# it, naming the file, and once it is fixed the same tree builds again. The development
# firmware builds unsigned and says so. A small tree (tests/firmware_build) with the main
# tree's tools, in a temporary directory.
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
command -v minisign >/dev/null || fail "minisign is missing: install it (tools/install_deps.sh)"

release="$work/release"
mkdir -p "$release"
# The tools run as the build runs them (TOOL_ENV in cmake/Resources.cmake).
ASAN_OPTIONS=detect_leaks=0 "$make_firmware" --revision B9 --seed 0x52454C39 "$release" >/dev/null
bin="$release/firmware.bin"
signature="$bin.minisig"

# Throwaway keys, without a password: the firmware team's own are never in a test.
keys="$work/keys"
mkdir -p "$keys"
for name in team stranger; do
    minisign -G -W -p "$keys/$name.pub" -s "$keys/$name.key" >/dev/null
done
# minisign prints a key id without its leading zeros; the build, with all 16 digits.
key_id() {
    local printed
    printed=$(sed -n '1s/^untrusted comment: minisign public key \([0-9A-F]\{1,16\}\)$/\1/p' "$1")
    [ -z "$printed" ] || printf '%16s' "$printed" | tr ' ' 0
}
team_id=$(key_id "$keys/team.pub")
[ -n "$team_id" ] || fail "minisign wrote no key id into $keys/team.pub"
# sign FILE KEY COMMENT [SIGNATURE]: as the firmware team signs a release.
sign() { minisign -S -s "$keys/$2.key" -m "$1" -t "$3" -x "${4:-$1.minisig}" >/dev/null; }

sign "$bin" team "product=LUMO7 revision=B9"
cp -p "$bin" "$work/good.bin"
cp -p "$signature" "$work/good.bin.minisig"
# The same release, its stack pointer erased and signed all the same, dated long before the
# last check.
cp "$bin" "$work/broken.bin"
printf '\377\377\377\377' | dd of="$work/broken.bin" conv=notrunc status=none
sign "$work/broken.bin" team "product=LUMO7 revision=B9"
touch -d '2000-01-01' "$work/broken.bin" "$work/good.bin" "$work/broken.bin.minisig" "$work/good.bin.minisig"

tree_keys=("$source_dir"/packaging/firmware-keys/*.pub)
trusted="$(IFS=';'; echo "${tree_keys[*]}");$keys/team.pub" # the tree's keys and the test's
tree="$work/build"
configure() { "$cmake" -S "$source_dir/tests/firmware_build" -B "$tree" -DORVANTA_SOURCE_DIR="$source_dir" \
    -DCHECK_FIRMWARE="$check_firmware" -DMAKE_FIRMWARE="$make_firmware" "$@" >"$work/configure.log" 2>&1; }
build() { "$cmake" --build "$tree" --target carried_firmware >"$work/log" 2>&1; }
carried="$tree/generated/resources"
identity="$tree/generated/firmware_identity.cmake"

configure -DORVANTA_FIRMWARE_BIN="$bin" -DORVANTA_FIRMWARE_SIGNATURE="$signature" \
    -DORVANTA_FIRMWARE_TRUSTED_KEYS="$trusted" || { cat "$work/configure.log"; fail "the release did not configure"; }
build || { cat "$work/log"; fail "the good release did not build"; }
# The embedded digest is that of the DfuSe file made from the raw image; the key id is the one
# minisign printed for the key that signed it.
[ "$(cat "$carried/firmware.sha256")" = "$(sha256sum "$release/firmware.dfu" | cut -d' ' -f1)" ] ||
    fail "firmware.sha256 is not the SHA-256 of the carried DfuSe file"
[ "$(cat "$carried/firmware.key_id")" = "$team_id" ] ||
    fail "firmware.key_id holds \"$(cat "$carried/firmware.key_id")\", not the signer's key id $team_id"
grep -qF "Firmware carried: LUMO7 revision B9 for the Lumo-7 (VELK), SHA-256" "$work/log" &&
    grep -qF ", signed by key $team_id" "$work/log" || { cat "$work/log"; fail "the build does not name the signer"; }
grep -qxF "set(ORVANTA_FIRMWARE_KEY_ID \"$team_id\")" "$identity" &&
    grep -qxF 'set(ORVANTA_FIRMWARE_DEVELOPMENT "FALSE")' "$identity" ||
    { cat "$identity"; fail "the package's identity does not name the signer"; }

# Nothing changed: the check runs, but leaves its files (and what depends on them) alone.
before=$(stat -c %y "$carried/firmware.dfu")
build || { cat "$work/log"; fail "an unchanged release did not build again"; }
[ "$(stat -c %y "$carried/firmware.dfu")" = "$before" ] || fail "an unchanged check rewrote its files"

# refused WHAT MESSAGE: the build stops with MESSAGE and leaves no checked copy behind.
refused() {
    if build; then
        cat "$work/log"
        fail "$1 built"
    fi
    grep -qF "Firmware refused: $2" "$work/log" || { cat "$work/log"; fail "$1: not refused with \"$2\""; }
    [ ! -e "$carried/firmware.dfu" ] || fail "$1: the previous release's checked copy was left in place"
    echo "ok: $1: $(grep -F 'Firmware refused:' "$work/log" | head -n 1)"
}
restore() { cp -p "$work/good.bin" "$bin" && cp -p "$work/good.bin.minisig" "$signature"; }

cp -p "$work/broken.bin" "$bin"
cp -p "$work/broken.bin.minisig" "$signature"
refused "a broken release replaced in place by an older file" "$bin: its vector table is erased"
restore

printf 'X' | dd of="$bin" bs=1 seek=40000 conv=notrunc status=none
refused "the release changed by one byte after signing" "$bin: does not match its signature $signature by key $team_id"
restore

sed -i 's/^trusted comment: product=LUMO7 revision=B9$/trusted comment: product=LUMO7 revision=B10/' "$signature"
refused "an edited trusted comment" "$signature: its trusted comment was changed after signing"
restore

sign "$bin" team "product=LUMO7 revision=B8"
refused "a trusted comment naming another revision" \
    "$signature: its trusted comment names revision B8, but the image's information block names B9"
restore

sign "$bin" stranger "product=LUMO7 revision=B9"
refused "a key not among the trusted ones" "$signature: signed by key $(key_id "$keys/stranger.pub"), which is not among the trusted keys"
restore

configure -DORVANTA_FIRMWARE_TRUSTED_KEYS= || fail "the tree's own trusted keys did not configure"
refused "a throwaway key against the tree's own trusted set" "$signature: signed by key $team_id, which is not among the trusted keys"

configure -DORVANTA_FIRMWARE_SIGNATURE= -DORVANTA_FIRMWARE_TRUSTED_KEYS="$trusted" || fail "an unsigned release did not configure"
refused "an unsigned release" "$bin: is not signed"

configure -DORVANTA_FIRMWARE_SIGNATURE="$signature" || fail "the fixed release did not configure"
build || { cat "$work/log"; fail "the fixed release did not build in the same tree"; }
cmp -s "$carried/firmware.bin" "$work/good.bin" || fail "the fixed release is not what is carried"

# The development firmware: the one that may be unsigned, and says so.
rm -rf "$tree"
configure || { cat "$work/configure.log"; fail "the development firmware did not configure"; }
grep -qF "the generated development firmware, unsigned" "$work/configure.log" ||
    fail "configuring does not say that the development firmware is unsigned"
build || { cat "$work/log"; fail "the development firmware did not build"; }
[ "$(cat "$carried/firmware.key_id")" = "development, unsigned" ] ||
    fail "the development firmware's key id is \"$(cat "$carried/firmware.key_id")\""
grep -qF "SHA-256 $(cat "$carried/firmware.sha256"), development, unsigned" "$work/log" ||
    { cat "$work/log"; fail "the build does not say that the development firmware is unsigned"; }
grep -qxF 'set(ORVANTA_FIRMWARE_DEVELOPMENT "TRUE")' "$identity" || { cat "$identity"; fail "the package is not told it is development firmware"; }
if configure -DORVANTA_FIRMWARE_SIGNATURE="$signature"; then
    fail "a signature without a release configured"
fi
# CMake wraps its messages' lines.
tr -s ' \n' '  ' <"$work/configure.log" | grep -qF "ORVANTA_FIRMWARE_SIGNATURE names a signature, but no release is supplied" ||
    { cat "$work/configure.log"; fail "a signature without a release is not refused in its own words"; }
echo "PASS"
