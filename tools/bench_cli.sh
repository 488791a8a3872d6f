#!/usr/bin/env bash
# The command-line program's part of the benchmark (tools/bench.sh runs it): its own time around
# the dfu-util runs it makes, against a simulated unit whose transfers take no time. Prints
# "name value unit" lines, then the two ratios with their targets; never judges.
#   cli_status_ms / cli_status_runs_ms: `status` on a unit of another revision, and the same
#     dfu-util runs (those its log names, and its one quiet listing) made one after the other
#   cli_install_ms / cli_install_runs_ms: `install` from another revision to the verified
#     match, and its runs likewise (with two quiet listings: before and after the download)
# Each is the median of three. Usage: bench_cli.sh build-dir work-dir log
set -euo pipefail
build=$1
work=$2
log=$3
cli=$build/orvanta-upgrade
sim=$build/simulator/dfu-util_simulator.sh
replay=$work/replay # the extraction directory of the replayed runs
mkdir -p "$work/units" "$replay"
cp "$build/generated/resources/firmware.dfu" "$build/generated/resources/firmware.bin" "$replay/"
export ORVANTA_SIMULATOR_STATE_DIR=$work/units

attach() {
    "$sim" --dfu-util-command setup_prepared_config older_revision >/dev/null
    echo 0 >"$work/units/download_seconds"
    echo 0 >"$work/units/upload_seconds"
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
median() { sort -n | sed -n 2p; }

# The runs the program's log names ('Start  "program" ("arg", ...)'), its extraction directory
# replaced by ours, one a line.
runs_of() {
    sed -n 's/^Start  "\([^"]*\)" (\(.*\))$/\1 \2/p' "$1" | sed 's/[",]//g' |
        sed -E "s#/tmp/[^ /]+/#$replay/#g"
}

# <verb> <quiet listings>: the program's time, then the time of its runs, each a median of 3.
measure() {
    local program=() runs=()
    for _ in 1 2 3; do
        attach
        local start=$(now_ms)
        "$cli" "$1" --use-simulator --json >/dev/null 2>"$work/cli.log" || true
        program+=($(($(now_ms) - start)))
        cat "$work/cli.log" >>"$log"
        attach
        start=$(now_ms)
        for _ in $(seq 1 "$2"); do "$sim" --dfu-util-command list -d 0483 -l >/dev/null; done
        while read -r -a run; do "${run[@]}" >/dev/null 2>&1 || true; done < <(runs_of "$work/cli.log")
        runs+=($(($(now_ms) - start)))
    done
    echo "cli_$1_ms $(printf '%s\n' "${program[@]}" | median) ms"
    echo "cli_$1_runs_ms $(printf '%s\n' "${runs[@]}" | median) ms"
}

figures=$(measure status 1; measure install 2)
echo "$figures"
value() { awk -v n="$1" '$1 == n { print $2 }' <<<"$figures"; }
for verb in status install; do
    target=$([ $verb = status ] && echo 0.2 || echo 0.8)
    awk -v n="cli_${verb}_overhead" -v a="$(value cli_${verb}_ms)" -v b="$(value cli_${verb}_runs_ms)" \
        -v t="$target" 'BEGIN { v = (a - b) / 1000; printf "%s %.2f s target<=%s %s\n", n, v, t, (v <= t ? "ok" : "OFF TARGET") }'
done
