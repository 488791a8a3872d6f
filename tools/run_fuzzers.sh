#!/usr/bin/env bash
# Builds the libFuzzer targets of the parsers of outside input with clang and runs each for a
# bounded time. New inputs go to a working corpus in the build tree, seeded from
# tests/fuzz/corpus/<name>; an input that crashes, leaks or hangs a target is left in
# <build>/fuzz-artifacts/<name>/ and makes this fail.
# Usage: run_fuzzers.sh [seconds per target, default 60] [target names...; default all]
# Environment: BUILD_DIR (default <repo>/build-fuzz), ORVANTA_DFU_UTIL_CACHE (optional),
#              JOBS (build jobs, default 2), PARALLEL (targets run at once, default 1).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
build=${BUILD_DIR:-$top/build-fuzz}
jobs=${JOBS:-2}
parallel=${PARALLEL:-1}

# One row per target: its name (program fuzz_<name>, seeds tests/fuzz/corpus/<name>, dictionary
# tests/fuzz/<name>.dict when there is one) and the longest input it is given, in bytes.
targets=(
    "fw_info      4096"
    "otp_info     1024"
    "dfu_listing  4096"
    "dfuse_file   8192"
    "gui_settings 8192"
    "progress     4096"
    "failure_cause 4096"
    "minisign     1024"
)
declare -A max_len=()
for row in "${targets[@]}"; do
    read -r name len <<<"$row"
    max_len[$name]=$len
done
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for row in "${targets[@]}"; do names+=("${row%% *}"); done
fi
for name in "${names[@]}"; do
    [ -n "${max_len[$name]:-}" ] || { echo "run_fuzzers.sh: no fuzz target '$name'" >&2; exit 2; }
done

# clang, and the compiler runtime that holds libFuzzer and the sanitizers.
bash "$top/tools/install_deps.sh" clang libclang-rt-14-dev

cache_arg=()
if [ -n "${ORVANTA_DFU_UTIL_CACHE:-}" ]; then
    cache_arg=("-DORVANTA_DFU_UTIL_CACHE=$ORVANTA_DFU_UTIL_CACHE")
fi
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DORVANTA_FUZZ=ON -DORVANTA_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${cache_arg[@]}" >/dev/null
cmake --build "$build" -j "$jobs" --target "${names[@]/#/fuzz_}"

# Runs one target; its log ends with libFuzzer's final statistics.
run_one() {
    local name=$1 dict=()
    local corpus=$build/fuzz-corpus/$name artifacts=$build/fuzz-artifacts/$name/
    [ -f "$top/tests/fuzz/$name.dict" ] && dict=("-dict=$top/tests/fuzz/$name.dict")
    mkdir -p "$corpus" "$artifacts"
    "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len="${max_len[$name]}" \
        -timeout=20 "${dict[@]}" -artifact_prefix="$artifacts" -print_final_stats=1 \
        "$corpus" "$top/tests/fuzz/corpus/$name" >"$build/fuzz-$name.log" 2>&1
}

# Says what one finished target did; false when it found something.
report() {
    local name=$1 rc=$2 log=$build/fuzz-$1.log runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ "$rc" -ne 0 ]; then
        echo "!! fuzz_$name found a problem (exit $rc; log: $log):"
        grep -E "ERROR|SUMMARY|Test unit written|Base64" "$log" || tail -20 "$log"
        echo "   reproduce: $build/tests/fuzz/fuzz_$name <the input written above>"
        return 1
    fi
    echo "== fuzz_$name: ${runs:-?} inputs in ${seconds}s, nothing found (log: $log)"
}

echo "== running ${names[*]} for ${seconds}s each, $parallel at a time"
for name in "${names[@]}"; do
    rm -f "$build/fuzz-$name.rc"
    while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
    (rc=0; run_one "$name" || rc=$?; echo "$rc" >"$build/fuzz-$name.rc") &
done
wait
status=0
for name in "${names[@]}"; do
    report "$name" "$(cat "$build/fuzz-$name.rc")" || status=1
done
exit $status
