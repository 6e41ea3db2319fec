#!/usr/bin/env bash
# Builds the release preset, runs the benchmarks and prints one table.
#   bench/run.sh                 every benchmark, 5 interleaved repetitions, medians
#   bench/run.sh 'Checksum'      only those whose name matches the regular expression
#   FW_BENCH_REPETITIONS=9 bench/run.sh
# FW_BENCH_DIR picks the folder of the 256 MiB test file (default: the temporary folder).
# FW_BENCH_BUILD_DIR builds elsewhere than the preset's build/release (extra cmake arguments in
# FW_BENCH_CMAKE_ARGS), so that a run does not disturb someone else's release build.
set -euo pipefail
cd "$(dirname "$0")/.."

filter="${1:-.}"
repetitions="${FW_BENCH_REPETITIONS:-5}"

build="${FW_BENCH_BUILD_DIR:-build/release}"
# shellcheck disable=SC2086  # the extra arguments are meant to split
cmake --preset release -B "$build" ${FW_BENCH_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --target fw_bench

out="$(mktemp)"
trap 'rm -f "$out"' EXIT
# Interleaving the repetitions puts each pair that a ratio compares under the same conditions.
"$build"/bench/fw-bench --benchmark_filter="$filter" \
  --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_format=json --benchmark_out="$out" \
  --benchmark_out_format=json >/dev/null

# Ratios: "label=numerator/denominator", each a benchmark name without the BM_ prefix; the
# ratio is of their rates (bytes or items per second).
ratios=(
  "FileChecksum / PlainRead=FileChecksum/PlainRead"
)

python3 - "$out" "$(nproc)" "${ratios[@]}" <<'PY'
import json, sys

path, cores, ratio_specs = sys.argv[1], sys.argv[2], sys.argv[3:]
with open(path) as f:
    data = json.load(f)
rows = {}
order = []
for b in data["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    name = b["run_name"].removeprefix("BM_").removesuffix("/real_time")
    rows[name] = b
    order.append(name)
order.sort()

def time_text(b):
    return f'{b["real_time"]:.3f} {b["time_unit"]}'

def rate(b):
    if "bytes_per_second" in b:
        return b["bytes_per_second"], f'{b["bytes_per_second"] / 1e6:,.0f} MB/s'
    if "items_per_second" in b:
        return b["items_per_second"], f'{b["items_per_second"] / 1e6:,.2f} M/s'
    return None, ""

print(f'fw-bench, real time, medians of {data["benchmarks"][0].get("repetitions", "?")} repetitions, '
      f'{cores} cores, {data["context"].get("date", "")}')
print(f'| {"benchmark":<30} | {"time per iteration":>20} | {"rate":>16} |')
print(f'|{"-" * 32}|{"-" * 22}|{"-" * 18}|')
for name in order:
    print(f'| {name:<30} | {time_text(rows[name]):>20} | {rate(rows[name])[1]:>16} |')
for spec in ratio_specs:
    label, pair = spec.split("=", 1)
    num, den = pair.split("/", 1)
    if num in rows and den in rows:
        a, b = rate(rows[num])[0], rate(rows[den])[0]
        if a and b:
            print(f'| {label:<30} | {"":>20} | {a / b:>15.2f}x |')
PY
