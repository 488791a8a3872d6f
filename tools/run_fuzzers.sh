#!/usr/bin/env bash
# Builds the libFuzzer targets of the binary parsers with clang and runs each for a bounded
# time, one after the other. New inputs go to a working corpus in the build tree, seeded from
# tests/fuzz/corpus; a crashing input is left in <build>/fuzz-artifacts and makes this fail.
# Usage: run_fuzzers.sh [seconds per fuzzer, default 60]
# Environment: BUILD_DIR (default <repo>/build-fuzz), ORVANTA_DFU_UTIL_CACHE (optional),
#              JOBS (build jobs, default 2).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${BUILD_DIR:-$top/build-fuzz}
jobs=${JOBS:-2}

cache_arg=()
if [ -n "${ORVANTA_DFU_UTIL_CACHE:-}" ]; then
    cache_arg=("-DORVANTA_DFU_UTIL_CACHE=$ORVANTA_DFU_UTIL_CACHE")
fi
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DORVANTA_FUZZ=ON -DORVANTA_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${cache_arg[@]}" >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz_fw_info fuzz_otp_info

declare -A max_len=([fw_info]=4096 [otp_info]=1024)
status=0
for parser in fw_info otp_info; do
    corpus=$build/fuzz-corpus/$parser
    artifacts=$build/fuzz-artifacts/$parser/
    log=$build/fuzz-$parser.log
    mkdir -p "$corpus" "$artifacts"
    echo "== fuzz_$parser for ${seconds}s (log: $log)"
    if ! "$build/tests/fuzz/fuzz_$parser" -max_total_time="$seconds" -max_len="${max_len[$parser]}" \
        -dict="$top/tests/fuzz/$parser.dict" -artifact_prefix="$artifacts" -print_final_stats=1 \
        "$corpus" "$top/tests/fuzz/corpus/$parser" >"$log" 2>&1; then
        echo "!! fuzz_$parser found a problem:"
        grep -E "ERROR|SUMMARY|Test unit written" "$log" || tail -20 "$log"
        status=1
    fi
    grep -E "^stat::number_of_executed_units|^Done [0-9]+ runs" "$log" || true
done
exit $status
