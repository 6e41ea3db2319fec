#!/usr/bin/env bash
# Builds the release preset, runs the benchmarks and prints one table.
#   bench/run.sh                 every benchmark, 5 interleaved repetitions, medians
#   bench/run.sh 'Checksum'      only those whose name matches the regular expression
#   FW_BENCH_REPETITIONS=9 bench/run.sh
# FW_BENCH_DIR picks the folder of the 256 MiB test file (default: the temporary folder).
# The loopback downloads (rows Download*, program fw-download-bench) run when the filter matches
# their names; they need the curl command-line tool.
# The GTK host against the headless one (rows Gtk*, program fw-download-gtk-bench) needs an X
# display; without DISPLAY it runs under xvfb-run.
# The Windows build under Wine against a plain WinInet loop and curl (rows WineDownload*,
# bench/run_wine.sh) runs when the filter matches those rows and mingw-w64 and Wine are here.
# FW_BENCH_BUILD_DIR builds elsewhere than the preset's build/release (extra cmake arguments in
# FW_BENCH_CMAKE_ARGS), so that a run does not disturb someone else's release build.
set -euo pipefail
cd "$(dirname "$0")/.."

filter="${1:-.}"
repetitions="${FW_BENCH_REPETITIONS:-5}"

build="${FW_BENCH_BUILD_DIR:-build/release}"
# shellcheck disable=SC2086  # the extra arguments are meant to split
cmake --preset release -B "$build" ${FW_BENCH_CMAKE_ARGS:-} >/dev/null
download_rows="Download256MiB_Product Download256MiB_ProductTransfer Download256MiB_Curl"
download_rows+=" Download16MiB_Product Download16MiB_ProductTransfer Download16MiB_Curl"
download_rows+=" Download256MiBSigned_Product Download256MiBSigned_Curl"
download_rows+=" Download256MiBWithKeys_Product Download256MiBWithoutKeys_Product"
run_downloads=0
if python3 -c 'import re, sys; sys.exit(not any(re.search(sys.argv[1], n) for n in sys.argv[2:]))' \
    "$filter" $download_rows; then
  # grep reads all of the list: leaving early would break the pipe under pipefail.
  if cmake --build "$build" --target help | grep '^fw_download_bench:' >/dev/null; then
    run_downloads=1
  else
    echo "fw-download-bench is not built here (it needs cpp-httplib and libcurl); no Download rows" >&2
  fi
fi
gtk_rows="GtkDownload256MiB_Headless GtkDownload256MiB_Gtk GtkDownload256MiB_CostPerBlock"
gtk_rows+=" GtkDownload256MiB_TimeInPump"
gtk_rows+=" GtkPumpIdle GtkPumpIdleFullPass GtkProgressSetPosUnchanged"
run_gtk=0
if python3 -c 'import re, sys; sys.exit(not any(re.search(sys.argv[1], n) for n in sys.argv[2:]))' \
    "$filter" $gtk_rows; then
  if cmake --build "$build" --target help | grep '^fw_download_gtk_bench:' >/dev/null; then
    run_gtk=1
  else
    echo "fw-download-gtk-bench is not built here (it needs GTK 3 and libcurl); no Gtk rows" >&2
  fi
fi
# The Windows build under Wine (rows WineDownload*, bench/run_wine.sh) when the cross compiler
# and Wine are here; its table follows the main one.
wine_rows="WineDownload256MiB_Product WineDownload256MiB_ProductTransfer"
wine_rows+=" WineDownload256MiB_WinInetLoop64KiB WineDownload256MiB_Curl"
run_wine=0
if python3 -c 'import re, sys; sys.exit(not any(re.search(sys.argv[1], n) for n in sys.argv[2:]))' \
    "$filter" $wine_rows; then
  if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
    run_wine=1
  else
    echo "no mingw-w64 or no Wine here; no WineDownload rows" >&2
  fi
fi
targets=(fw_bench)
if [ "$run_downloads" = 1 ]; then targets+=(fw_download_bench); fi
if [ "$run_gtk" = 1 ]; then targets+=(fw_download_gtk_bench); fi
cmake --build "$build" --target "${targets[@]}"

out="$(mktemp)"
trap 'rm -f "$out"' EXIT
# Interleaving the repetitions puts each pair that a ratio compares under the same conditions.
"$build"/bench/fw-bench --benchmark_filter="$filter" \
  --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_format=json --benchmark_out="$out" \
  --benchmark_out_format=json >/dev/null

# Every download in a process of its own (peak resident size), the product and curl taking
# turns to go first; its own summary with the spreads goes to standard error.
downloads="$(mktemp)"
trap 'rm -f "$out" "$downloads"' EXIT
if [ "$run_downloads" = 1 ]; then
  "$build"/bench/fw-download-bench --repetitions "$repetitions" --json "$downloads" \
    ${FW_BENCH_DIR:+--dir "$FW_BENCH_DIR"} >&2
  # The same 256 MiB with signed definitions and their key built in: the SHA-256 joins the check.
  signedrows="$(mktemp)"
  "$build"/bench/fw-download-bench --signed --size-mib 256 --repetitions "$repetitions" \
    --json "$signedrows" ${FW_BENCH_DIR:+--dir "$FW_BENCH_DIR"} >&2
  # The product with keys and without, side by side in one run, taking turns to go first.
  sidebyside="$(mktemp)"
  "$build"/bench/fw-download-bench --keys-side-by-side --size-mib 256 \
    --repetitions "$repetitions" --json "$sidebyside" ${FW_BENCH_DIR:+--dir "$FW_BENCH_DIR"} >&2
  python3 - "$downloads" "$signedrows" "$sidebyside" <<'PY'
import json, sys
with open(sys.argv[1]) as f:
    merged = json.load(f)
for extra in sys.argv[2:]:
    with open(extra) as f:
        merged["benchmarks"] += json.load(f)["benchmarks"]
with open(sys.argv[1], "w") as f:
    json.dump(merged, f)
PY
  rm -f "$signedrows" "$sidebyside"
fi

# The same transfer on the GTK host and on the headless one, taking turns, in one process with
# a real window; its rows join the download rows.
if [ "$run_gtk" = 1 ]; then
  gtkrows="$(mktemp)"
  trap 'rm -f "$out" "$downloads" "$gtkrows"' EXIT
  gtk_bench=("$build"/bench/fw-download-gtk-bench --repetitions "$repetitions" --json "$gtkrows"
             ${FW_BENCH_DIR:+--dir "$FW_BENCH_DIR"})
  if [ -n "${DISPLAY:-}" ]; then
    "${gtk_bench[@]}" >&2
  else
    xvfb-run -a -s '-screen 0 1280x1024x24' "${gtk_bench[@]}" >&2
  fi
  python3 - "$downloads" "$gtkrows" <<'PY'
import json, sys
def load(p):
    with open(p) as f:
        text = f.read()
    return json.loads(text) if text.strip() else {"context": {}, "benchmarks": []}
merged, extra = load(sys.argv[1]), load(sys.argv[2])
merged["context"] = merged["context"] or extra["context"]
merged["benchmarks"] += extra["benchmarks"]
with open(sys.argv[1], "w") as f:
    json.dump(merged, f)
PY
  rm -f "$gtkrows"
fi

# Ratios: "label=numerator/denominator", each a benchmark name without the BM_ prefix; the
# ratio is of their rates (bytes or items per second).
ratios=(
  "FileChecksum / PlainRead=FileChecksum/PlainRead"
  "Checksum+SHA-256 / openssl dgst=FileFacts/OpensslDgst"
  "Download / curl, 256 MiB=Download256MiB_Product/Download256MiB_Curl"
  "Transfer only / curl, 256 MiB=Download256MiB_ProductTransfer/Download256MiB_Curl"
  "Download / curl, 16 MiB=Download16MiB_Product/Download16MiB_Curl"
  "Download with keys / curl, 256 MiB=Download256MiBSigned_Product/Download256MiBSigned_Curl"
  "Download with keys / without keys=Download256MiBWithKeys_Product/Download256MiBWithoutKeys_Product"
  "GTK / headless transfer, 256 MiB=GtkDownload256MiB_Gtk/GtkDownload256MiB_Headless"
)

python3 - "$out" "$downloads" "$(nproc)" "${ratios[@]}" <<'PY'
import json, sys

path, downloads_path, cores, ratio_specs = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]

def load(p):
    try:
        with open(p) as f:
            text = f.read()
    except OSError:
        text = ""
    return json.loads(text) if text.strip() else {"context": {}, "benchmarks": []}

data = load(path)
downloads = load(downloads_path)
if not data["benchmarks"]:
    data["context"] = downloads["context"]
rows = {}
order = []
for b in data["benchmarks"] + downloads["benchmarks"]:
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

first = (data["benchmarks"] + downloads["benchmarks"] + [{}])[0]
print(f'fw-bench, real time, medians of {first.get("repetitions", "?")} repetitions, '
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
peaks = [(n, rows[n]) for n in order if "peak_rss_kib" in rows[n]]
if peaks:
    print()
    print(f'| {"download: spread, peak RSS":<30} | {"rates, low to high":>20} | {"peak resident":>16} |')
    print(f'|{"-" * 32}|{"-" * 22}|{"-" * 18}|')
    for name, b in peaks:
        spread = f'{b["min_bytes_per_second"] / 1e6:,.0f} to {b["max_bytes_per_second"] / 1e6:,.0f} MB/s'
        print(f'| {name:<30} | {spread:>20} | {b["peak_rss_kib"] / 1024:>12.1f} MiB |')
PY

if [ "$run_wine" = 1 ]; then
  echo
  FW_BENCH_REPETITIONS="$repetitions" bench/run_wine.sh
fi
