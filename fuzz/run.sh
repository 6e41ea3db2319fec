#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build/fuzz and runs each of them for a fixed time, one after another.
#
#   fuzz/run.sh [SECONDS] [TARGET...]   run each target SECONDS (default 60)
#   fuzz/run.sh --ci                    run each target about 10 s; fail on any crash
#   fuzz/run.sh --build                 only configure and build
#
# FW_FUZZ_JOBS=2 runs two targets at a time (the machine's cores are shared: 1 by default).
# New inputs go to build/fuzz/corpus/<target>/; the committed seeds in fuzz/corpus/<target>/
# are only read. A crash leaves its input in build/fuzz/artifacts/ and makes the script fail.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build="$root/build/fuzz"
seconds=60
build_only=0
targets=()

for arg in "$@"; do
    case "$arg" in
        --ci) seconds=10 ;;
        --build) build_only=1 ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        *[!0-9]*) targets+=("$arg") ;;
        *) seconds="$arg" ;;
    esac
done

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang-14 \
    -DCMAKE_CXX_COMPILER=clang++-14 >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j2 --target fuzz_all
[[ $build_only -eq 1 ]] && exit 0

if [[ ${#targets[@]} -eq 0 ]]; then
    for src in "$here"/*_fuzz.cpp; do
        targets+=("$(basename "$src" .cpp)")
    done
fi

mkdir -p "$build/artifacts" "$build/logs"
jobs_at_once="${FW_FUZZ_JOBS:-1}"

run_one() {
    local target="$1"
    local seeds="$here/corpus/${target%_fuzz}"
    local work="$build/corpus/${target%_fuzz}"
    local log="$build/logs/$target.log"
    mkdir -p "$work" "$seeds"
    # Leaks count as crashes; a single input that takes 10 s or 2 GB is a finding too.
    "$build/$target" "$work" "$seeds" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -detect_leaks=1 \
        -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1
}

report() {
    local target="$1" status="$2"
    local log="$build/logs/$target.log"
    local runs rate
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)"
    if [[ $status -eq 0 ]]; then
        printf '%-26s ok      %12s executions  %8s/s  %ss\n' "$target" "${runs:-?}" \
            "${rate:-?}" "$seconds"
    else
        printf '%-26s FAILED  %12s executions  (log: %s)\n' "$target" "${runs:-?}" "$log"
        grep -m5 -E 'ERROR|property failed|runtime error|SUMMARY' "$log" | sed 's/^/    /' || true
    fi
}

failed=0
pending=()
for target in "${targets[@]}"; do
    if [[ ! -x "$build/$target" ]]; then
        echo "no such fuzz target: $target" >&2
        exit 2
    fi
    run_one "$target" &
    pending+=("$!:$target")
    if [[ ${#pending[@]} -ge $jobs_at_once ]]; then
        entry="${pending[0]}"
        pending=("${pending[@]:1}")
        status=0
        wait "${entry%%:*}" || status=$?
        report "${entry#*:}" "$status"
        [[ $status -eq 0 ]] || failed=1
    fi
done
for entry in "${pending[@]}"; do
    status=0
    wait "${entry%%:*}" || status=$?
    report "${entry#*:}" "$status"
    [[ $status -eq 0 ]] || failed=1
done

if [[ $failed -ne 0 ]]; then
    echo "fuzzing found a crash; inputs are in $build/artifacts/" >&2
    exit 1
fi
