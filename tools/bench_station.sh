#!/usr/bin/env bash
# The station's part of the benchmark (tools/bench.sh runs it): orvanta-upgrade with several
# units, against simulated units whose transfers take the time a test sets. Prints
# "name value unit" lines, then the ratios with their targets; never judges.
#   station_one_s / station_four_s: `install --all` on one unit, and on four (four_units), each
#     transfer 4 s of download and 1 s of read-back; four at once should take little more
#   station_idle_1_port / station_idle_8_ports: CPU (of the program and the dfu-util runs it
#     reaped) over idle-seconds (10 at least) of `install --all --repeat` with no unit attached, watching one
#     port and eight, as a share of one core; one listing a poll serves every port
# Usage: bench_station.sh build-dir work-dir log idle-seconds
set -euo pipefail
build=$1
work=$2
log=$3
idle=$(($4 < 10 ? 10 : $4)) # a listing every half second: fewer seconds count too few ticks
cli=$build/orvanta-upgrade
sim=$build/simulator/dfu-util_simulator.sh
export ORVANTA_SIMULATOR_STATE_DIR=$work/units
mkdir -p "$work/units"

attach() { # configuration download-seconds upload-seconds
    "$sim" --dfu-util-command setup_prepared_config "$1" >/dev/null
    echo "$2" >"$work/units/download_seconds"
    echo "$3" >"$work/units/upload_seconds"
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# <configuration>: seconds of one `install --all`, from its start to its end.
install_all_s() {
    attach "$1" 4 1
    local start=$(now_ms)
    "$cli" install --all --use-simulator --json >/dev/null 2>>"$log" || true
    awk -v ms=$(($(now_ms) - start)) 'BEGIN { printf "%.2f", ms / 1000 }'
}

# <ports...>: the CPU share over the idle period of a station watching these ports, empty.
idle_share() {
    attach no_unit 0 0
    local args=()
    for port in "$@"; do args+=(--port "$port"); done
    "$cli" install --repeat --use-simulator --json "${args[@]}" >/dev/null 2>>"$log" &
    local pid=$!
    sleep 2 # its start-up is not idle
    local before=$(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$pid/stat")
    sleep "$idle"
    local after=$(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$pid/stat")
    kill -TERM "$pid"
    wait "$pid" || true
    awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$idle" \
        'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

one=$(install_all_s older_revision)
four=$(install_all_s four_units)
idle_1=$(idle_share 1-1.1)
idle_8=$(idle_share 1-1.1 1-1.2 1-1.3 1-1.4 1-1.5 1-1.6 1-1.7 1-1.8)
echo "station_one_s $one s"
echo "station_four_s $four s"
echo "station_idle_1_port $idle_1 %core"
echo "station_idle_8_ports $idle_8 %core"
ratio() { # name value target
    awk -v n="$1" -v v="$2" -v t="$3" \
        'BEGIN { printf "%s %.2f x target<=%s %s\n", n, v, t, (v <= t ? "ok" : "OFF TARGET") }'
}
ratio station_four_to_one "$(awk -v a="$four" -v b="$one" 'BEGIN { print a / b }')" 1.3
ratio station_idle_8_to_1 "$(awk -v a="$idle_8" -v b="$idle_1" 'BEGIN { print (b > 0 ? a / b : 1) }')" 1.2
