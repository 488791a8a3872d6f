#!/usr/bin/env bash
# Checks a Debian package made by tools/package.sh, as root on a machine without a desktop:
# its fields (the version names the carried firmware's revision, the version and description
# who signed it) and contents, the desktop entry
# and metainfo validators, lintian (no errors, no unfortified functions), hardening-check of the
# programs, no path of the build machine in the program; then installs it, checks that the
# command-line program runs as installed and links neither Qt Gui nor Qt Widgets, starts the installed
# program as an unprivileged user in simulator mode on a virtual display (Xvfb) until it offers
# the upgrade, clicks its install button (xdotool) and waits until the unit holds the carried
# revision and is verified (run beside tools/pg_test_server.sh: its row reaches the central
# record once), and purges the package again. The key id of the carried firmware's signer is in
# the description, --version, the start-up log and the rows.
# Usage: test_package.sh <package.deb> <key id>
#   key id: the signer's, as minisign prints it, or "development, unsigned"
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: test_package.sh <package.deb> <key id>"
deb=$(realpath "${1:?$usage}")
key_id=${2:?$usage}

name=orvanta-firmware-upgrade-tool
app_id=com.orvanta.FirmwareUpgradeTool
simulator_dir=/usr/libexec/$name
user=orvanta-package-check # the unprivileged user who starts the installed program
version=$(sed -n 's/^project([^)]* VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")

fail() {
    echo "test_package: $*" >&2
    exit 1
}

missing=()
for p in lintian desktop-file-utils appstream binutils devscripts xvfb xdotool sqlite3; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

work=$(mktemp -d)
pid=
xvfb_pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q installed; then
        apt-get purge -y -qq "$name" >/dev/null 2>&1 || true
    fi
    id "$user" >/dev/null 2>&1 && userdel --remove "$user" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

echo "--- fields"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "$name" ] || fail "package name is $(field Package)"
# The project's version, then "+fw." and the carried firmware's revision in lower case; for the
# development firmware, "~development.unsigned" after it, and never for a signed release.
development_mark=
[ "$key_id" != "development, unsigned" ] || development_mark="~development\\.unsigned"
[[ "$(field Version)" =~ ^${version//./\\.}\+fw\.([a-z0-9.+~]+)$development_mark$ ]] ||
    fail "version $(field Version) is not $version+fw.<revision>${development_mark//\\/}"
carried=${BASH_REMATCH[1]}
[ -n "$development_mark" ] || [[ "$(field Version)" != *~development* ]] ||
    fail "the version $(field Version) of a signed release says development"
[ "$(basename "$deb")" = "${name}_$(field Version)_$(field Architecture).deb" ] ||
    fail "the package's file name $(basename "$deb") does not carry its version"
echo "version $(field Version): the firmware revision $carried"
for f in Section Maintainer Description; do
    [ -n "$(field $f)" ] || fail "no $f"
done
signer="signed by key $key_id"
[ "$key_id" != "development, unsigned" ] || signer=$key_id
field Description | grep -qF "$signer" || fail "the description does not say \"$signer\": $(field Description)"
echo "the description says: $(field Description | grep -F "$signer")"
# From dpkg-shlibdeps: the Qt libraries the program links.
field Depends | grep -q 'libqt5widgets5' || fail "Depends lacks the Qt libraries: $(field Depends)"
field Depends | grep -q 'libqt5sql5-sqlite' || fail "Depends lacks the SQLite driver of the upgrade record"
field Depends

echo "--- contents"
cli=orvanta-upgrade # the command-line program for stations and scripts
contents=(
    "usr/bin/$name"
    "usr/bin/$cli"
    "usr/share/man/man1/$cli.1.gz"
    "usr/share/$name/central-record.sql"
    "usr/share/$name/central-record-upgrade-2.sql"
    "usr/lib/udev/rules.d/70-$name.rules"
    "usr/share/applications/$app_id.desktop"
    "usr/share/metainfo/$app_id.metainfo.xml"
    "usr/share/icons/hicolor/48x48/apps/$app_id.png"
    "usr/share/icons/hicolor/256x256/apps/$app_id.png"
    "$simulator_dir/dfu-util_simulator.sh"
    "$simulator_dir/orvanta_dfu_simulator"
)
dpkg-deb -x "$deb" "$work/root"
for f in "${contents[@]}"; do
    [ -f "$work/root/$f" ] || fail "the package lacks /$f"
done
for f in dfu-util_simulator.sh orvanta_dfu_simulator; do
    [ -x "$work/root/$simulator_dir/$f" ] || fail "the simulator's $f is not executable"
done
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}'

echo "--- validators"
desktop-file-validate "$work/root/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$app_id.metainfo.xml"

echo "--- no path of the build machine in the program"
# Qt keeps string literals in UTF-16: both encodings are searched.
program=$work/root/usr/bin/$name
for encoding in s l; do
    if strings -a -e "$encoding" "$program" | grep -F "$top"; then
        fail "the program holds the build machine's path $top"
    fi
done
# grep without -q reads all of it: with -q, strings would die of SIGPIPE and fail the pipe.
strings -a -e l "$program" | grep -xF "$simulator_dir" >/dev/null ||
    fail "the program does not use $simulator_dir"

echo "--- lintian"
# Errors fail; warnings and notes are shown. Running as root is what CI does.
status=0
report=$(lintian --fail-on error --display-info --pedantic "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || fail "lintian reports errors"
! grep -q 'hardening-no-fortify-functions' <<<"$report" || fail "lintian finds unfortified functions"

echo "--- hardening-check"
# Everything dpkg-buildflags asks for. Not control-flow integrity (CET): Debian 12's
# dpkg-buildflags has no such feature and its C start files carry no CET note, so no program
# linked there has it, whatever its own flags.
for program in "usr/bin/$name" "usr/bin/$cli" "$simulator_dir/orvanta_dfu_simulator"; do
    hardening-check --nocfprotection "$work/root/$program" ||
        fail "/$program is not built with the hardening flags"
done

echo "--- install"
export DEBIAN_FRONTEND=noninteractive
if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q installed; then
    apt-get purge -y -qq "$name"
fi
apt-get install -y -qq -o Dpkg::Use-Pty=0 --no-install-recommends "$deb"
for f in "${contents[@]}"; do
    [ -f "/$f" ] || fail "/$f is not installed"
done

echo "--- the installed program, started by an unprivileged user in simulator mode"
id "$user" >/dev/null 2>&1 || useradd --create-home --user-group --shell /bin/sh "$user"

# The command-line program runs as installed, without a display, and links no Qt Gui or Widgets.
cli_version=$(cd / && setpriv --reuid="$user" --regid="$user" --init-groups --reset-env "$cli" --version) ||
    fail "$cli --version failed as installed"
[ "$(head -n 1 <<<"$cli_version")" = "$cli $version" ] &&
    [ "$(sed -n '2s/.*, \(signed by key [0-9A-F]*\|development, unsigned\)$/\1/p' <<<"$cli_version")" = "$signer" ] ||
    fail "$cli --version says \"$cli_version\", not \"$cli $version\" and the firmware $signer"
json_version=$(cd / && setpriv --reuid="$user" --regid="$user" --init-groups --reset-env "$cli" --version --json)
grep -qF "\"firmware_key_id\":\"$key_id\"" <<<"$json_version" ||
    fail "$cli --version --json does not name the key id $key_id: $json_version"
! ldd "/usr/bin/$cli" | grep -E 'libQt5(Gui|Widgets)' || fail "/usr/bin/$cli links Qt Gui or Qt Widgets"
echo "$cli runs without Qt Gui and Qt Widgets; --version says:"
echo "$cli_version"
home=$(getent passwd "$user" | cut -d: -f6)
# A fresh home: the simulator starts with its default unit, a Lumo-7 holding another revision.
rm -rf "$home/.local/state/orvanta-dfu-simulator"
log=$work/program.log
# The log window's copy on standard error shows each read of the unit ("FW_revision: B7") and
# the install button enabled ("MainWindow downloadMode: setEnabled true"): the upgrade is offered.
offers_upgrade='MainWindow downloadMode: setEnabled true'
# The revisions read from the unit, in lower case, one a line.
revisions_read() { sed -n 's/.*FW_revision:[[:space:]]*\([^[:space:]]*\).*/\1/p' "$log" | tr 'A-Z' 'a-z'; }
offered() { revisions_read | grep -qvxF "$carried" && grep -q "$offers_upgrade" "$log"; }
# After the click: the download, then the unit read again with the carried revision, and the
# read-back flash matching the carried image ("sig_FwMatches").
upgraded() { grep -q 'sig_DoDownload' "$log" && revisions_read | grep -qxF "$carried" && grep -q 'sig_FwMatches' "$log"; }
wait_for() { # <condition> <seconds>
    for _ in $(seq 1 $(($2 * 2))); do
        "$1" && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.5
    done
    "$1"
}

# A virtual display for the window, where xdotool can click the install button as a user does.
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x1024x24 -dpi 96 -ac -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 40); do
    DISPLAY=$display xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.25
done
# Beside a throwaway PostgreSQL server (tools/pg_test_server.sh), the bench joins the central
# record as a technician's does: the password in the user's own ~/.pgpass, never in the command.
central=()
if [ -n "${ORVANTA_PG_BENCH_A:-}" ]; then
    install -o "$user" -g "$user" -m 600 "$PGPASSFILE" "$home/.pgpass"
    central=(--central-record "$ORVANTA_PG_BENCH_A")
fi
(cd / && exec setpriv --reuid="$user" --regid="$user" --init-groups --reset-env \
    env DISPLAY="$display" "$name" --use-simulator --use-log-window "${central[@]}") >/dev/null 2>"$log" &
pid=$!
if ! wait_for offered 60; then
    tail -n 40 "$log" >&2
    fail "the installed program did not read the simulated unit and offer the upgrade"
fi
echo "offered the upgrade from revision $(revisions_read | head -n 1) to $carried"

# A second start by the same user in the same mode opens nothing and ends with a failure.
second_status=0
(cd / && setpriv --reuid="$user" --regid="$user" --init-groups --reset-env \
    env DISPLAY="$display" "$name" --use-simulator) >/dev/null 2>"$work/second.log" || second_status=$?
[ "$second_status" -ne 0 ] && grep -q 'already running' "$work/second.log" ||
    fail "a second start did not end at once (status $second_status): $(cat "$work/second.log")"
kill -0 "$pid" 2>/dev/null || fail "the first program ended when a second one was started"

# The install button's place in the window at scale 1 (96 dpi), as the window lays it out.
read -r bx by bw bh < <(sed -n 's/^const QRect design_button_rect(\([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\));/\1 \2 \3 \4/p' \
    "$top/gui/main_window.cpp")
[ -n "$bh" ] || fail "the install button's place is not found in gui/main_window.cpp"
window=$(DISPLAY=$display xdotool search --sync --onlyvisible --pid "$pid" --name '^Orvanta Firmware Upgrade Tool$' | head -n 1)
DISPLAY=$display xdotool mousemove --window "$window" $((bx + bw / 2)) $((by + bh / 2)) click 1
if ! wait_for upgraded 180; then
    tail -n 40 "$log" >&2
    fail "the installed program did not finish the upgrade to revision $carried"
fi
# SIGTERM ends the program through its normal shut-down.
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || { tail -n 20 "$log" >&2; fail "the program ended with status $status"; }
# The simulator (the program knows only the installed one) ran as that user, in the user's home.
[ "$(stat -c %U "$home/.local/state/orvanta-dfu-simulator")" = "$user" ] ||
    fail "the simulator kept no state in $home"
# The simulator's record lies in the user's data directory, owned by the user, apart from the
# service record, which a simulated upgrade never enters; its digest is the carried DfuSe file's.
records=$home/.local/share/Orvanta/FirmwareUpgradeTool
record=$records/history-simulator.sqlite
[ "$(stat -c %U "$record" 2>/dev/null)" = "$user" ] || fail "no upgrade record at $record"
[ ! -e "$records/history.sqlite" ] || fail "a simulated upgrade wrote into $records/history.sqlite"
rows=$(sqlite3 "$record" "SELECT outcome || ' ' || lower(revision_after) || ' ' || firmware_sha256 || ' ' || firmware_key_id FROM upgrades")
digest=$(grep -o 'SHA-256 [0-9a-f]*' "$log" | head -n 1 | cut -d' ' -f2)
[ -n "$digest" ] || fail "the start-up log names no SHA-256 of the carried firmware"
grep -qF "Desired firmware:" "$log" && grep "Desired firmware:" "$log" | grep -qF ", $signer" ||
    fail "the start-up log does not say the firmware is $signer"
[ "$rows" = "upgraded $carried $digest $key_id" ] ||
    fail "the record holds \"$rows\", not one upgraded row to $carried with digest $digest and key id $key_id"
echo "upgraded the unit to revision $carried and verified it, as $user (uid $(id -u "$user"))"
if [ ${#central[@]} -gt 0 ]; then
    uuid=$(sqlite3 "$record" "SELECT uuid FROM upgrades")
    shipped=$(psql -X -At -d "$ORVANTA_PG_ADMIN" -c "SELECT count(*), min(bench), min(outcome), min(firmware_key_id) FROM upgrades WHERE uuid = '$uuid'")
    [ "$shipped" = "1|bench_a|upgraded|$key_id" ] || fail "the central record holds \"$shipped\" for the upgrade's row $uuid"
    [ "$(sqlite3 "$record" "SELECT count(*) FROM shipped WHERE uuid = '$uuid'")" = 1 ] ||
        fail "the row $uuid is on the central record but not marked as shipped in $record"
    grep -q 'test-pass' "$log" && fail "a password is in the program's log"
    echo "the upgrade's row is on the central record once, shipped by bench_a"
fi

echo "--- purge"
apt-get purge -y -qq -o Dpkg::Use-Pty=0 "$name"
for f in "${contents[@]}"; do
    [ ! -e "/$f" ] || fail "/$f is left after purging"
done
[ ! -e "$simulator_dir" ] || fail "$simulator_dir is left after purging"
echo "package $deb: all checks passed"
