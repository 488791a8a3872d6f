#!/usr/bin/env bash
# A benchmark, not a test: measures the program against yardsticks and prints one
# "name value unit" line per figure, then the ratios with their targets. It fails only when a
# measurement cannot be made; figures off target are reported, never fatal (machines are noisy).
#
#   bash tools/bench.sh [build-dir] [idle-seconds]     (defaults: build, 30)
#
# - start-up: from starting the program to its "Starting sm_A", against a minimal Qt widgets
#   program showing one 665x517 window (tools/bench_window.cpp); median of 3
# - peak RSS (VmHWM) of the same runs
# - idle: CPU of the program and its dfu-util runs over idle-seconds with no unit attached, as a
#   share of one core (idle_cpu_NAME); the program's own share, without the dfu-util runs it has
#   reaped, beside it (idle_cpu_NAME_itself)
# - upgrade: from the click on the install button to "Firmware is upgraded" with the simulator
#   in fast mode, against the same dfu-util runs made one after the other
# - the upgrade record, in the benchmark's own QApplication (offscreen): rows per second written
#   through the recorder's thread into a new record (1000 rows, one transaction each), and the
#   GUI thread's longest stall meanwhile (record_write_stall_ms); the history window opened on a
#   record of 120 000 rows (the time to its first page painted), a filter typed and the table
#   scrolled to its bottom five times, with the GUI thread's longest stall over all of it
#   (record_filter_stall_ms). A stall is the largest gap between the ticks of a 1 ms timer on
#   the GUI thread, less 1 ms; record_idle_stall_ms is the same with nothing to do, the
#   machine's own noise
# Start-up, RSS and idle are judged on the program as a technician runs it: the embedded
# dfu-util, no unit attached. The same figures in simulator mode (configuration no_unit) are
# printed beside them; there every listing starts the simulator program, which costs more.
# - orvanta-upgrade: status and install against a simulated unit, less the same dfu-util runs
#   made directly (tools/bench_cli.sh)
# - the station: four units upgraded with `install --all` against one alone, and its idle CPU
#   watching eight ports against one (tools/bench_station.sh)
# - the central record: a backlog of 10 000 rows shipped over loopback to a throwaway PostgreSQL
#   server (tools/pg_test_server.sh): rows per second, and the GUI thread's longest stall
#   meanwhile (central_ship_stall_ms)
# Everything the programs log goes to build-dir/bench.log.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
idle=${2:-30}
bench=$build/orvanta_bench
log=$build/bench.log
for program in "$bench" "$build/orvanta_bench_window" "$build/OrvantaFirmwareUpgradeTool" \
    "$build/orvanta-upgrade"; do
    [ -x "$program" ] || { echo "bench.sh: $program is not built" >&2; exit 1; }
done

export QT_QPA_PLATFORM=offscreen
unset QT_LOGGING_RULES QT_MESSAGE_PATTERN
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
export ORVANTA_SIMULATOR_STATE_DIR=$state
# The benchmark's upgrades are not recorded in the user's home, and its starts are not refused
# because the user runs the program meanwhile (one window at a time holds per runtime directory).
export XDG_DATA_HOME=$state/data XDG_RUNTIME_DIR=$state/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
: >"$log"

figures=$(
    "$bench" process min_window 0 "window shown" "$build/orvanta_bench_window" 2>>"$log"
    "$bench" config no_unit 2>>"$log" >>"$log"
    "$bench" process program "$idle" "Starting sm_A" "$build/OrvantaFirmwareUpgradeTool" 2>>"$log"
    "$bench" process simulator "$idle" "Starting sm_A" "$build/OrvantaFirmwareUpgradeTool" -s 2>>"$log"
    "$bench" upgrade 2>>"$log"
    "$bench" record_write 2>>"$log"
    "$bench" record_filter 2>>"$log"
) || { echo "bench.sh: a measurement failed; see $log" >&2; exit 1; }
echo "$figures"

value() { awk -v n="$1" '$1 == n { print $2 }' <<<"$figures"; }
for name in startup_program startup_min_window rss_program rss_min_window idle_cpu_program \
    upgrade_overhead record_write_stall_ms record_filter_stall_ms; do
    [ -n "$(value "$name")" ] || { echo "bench.sh: no figure $name; see $log" >&2; exit 1; }
done
ratio() { # name value target unit
    awk -v n="$1" -v v="$2" -v t="$3" -v u="$4" \
        'BEGIN { printf "%s %.2f %s target<=%s %s\n", n, v, u, t, (v <= t ? "ok" : "OFF TARGET") }'
}
ratio startup_ratio "$(awk -v a="$(value startup_program)" -v b="$(value startup_min_window)" 'BEGIN { print a / b }')" 1.8 x
ratio rss_ratio "$(awk -v a="$(value rss_program)" -v b="$(value rss_min_window)" 'BEGIN { print a / b }')" 1.2 x
ratio idle_cpu "$(value idle_cpu_program)" 1 "%core"
ratio upgrade_overhead "$(awk -v a="$(value upgrade_overhead)" 'BEGIN { print a / 1000 }')" 0.8 s
ratio record_write_stall "$(value record_write_stall_ms)" 50 ms
ratio record_filter_stall "$(value record_filter_stall_ms)" 50 ms

# The command-line program, in this benchmark's directories (its record, lock and units).
bash "$top/tools/bench_cli.sh" "$build" "$state/cli" "$log" ||
    { echo "bench.sh: a measurement of orvanta-upgrade failed; see $log" >&2; exit 1; }

# Several units at once, in the same directories.
bash "$top/tools/bench_station.sh" "$build" "$state/station" "$log" "$idle" ||
    { echo "bench.sh: a measurement of the station failed; see $log" >&2; exit 1; }

central=$(bash "$top/tools/pg_test_server.sh" "$bench" central_ship 2>>"$log") ||
    { echo "bench.sh: the central record's measurement failed; see $log" >&2; exit 1; }
echo "$central"
central_value() { awk -v n="$1" '$1 == n { print $2 }' <<<"$central"; }
awk -v v="$(central_value central_rows_per_s)" \
    'BEGIN { printf "central_rows_per_s %d rows/s target>=1000 %s\n", v, (v >= 1000 ? "ok" : "OFF TARGET") }'
ratio central_ship_stall "$(central_value central_ship_stall_ms)" 50 ms
