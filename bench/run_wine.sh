#!/usr/bin/env bash
# The Windows build's download under Wine, side by side with its anchors, in one run:
#   WineDownload256MiB_Product          FablewrightUpdate's main dialog on the Win32 host (a real
#                                       window on a virtual display, the Win32 services), Check
#                                       then the timed Download click: request, transfer, checksum
#   WineDownload256MiB_ProductTransfer  the same click up to the last pump before the end
#   WineDownload256MiB_WinInetLoop64KiB a plain synchronous WinInet loop, 64 KiB reads, under Wine
#   WineDownload256MiB_Curl             the curl tool, natively
# all from one native fablewright-update-server on 127.0.0.1. Each download is a process of its
# own; the order rotates from one repetition to the next.
#   bench/run_wine.sh                  5 repetitions
#   FW_BENCH_REPETITIONS=9 bench/run_wine.sh
# FW_BENCH_DIR: where the 256 MiB file and the downloads go (default: the temporary folder).
# FW_BENCH_BUILD_DIR: the native build for the server (default build/release).
# Needs g++-mingw-w64-x86-64, wine, xvfb, curl and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
repetitions="${FW_BENCH_REPETITIONS:-5}"
native="${FW_BENCH_BUILD_DIR:-build/release}"
windows=$root/build/windows
export WINEPREFIX="${WINEPREFIX:-$windows/wineprefix}" WINEDEBUG=-all

cmake --preset windows >/dev/null
cmake --build --preset windows --target fw_download_wine_bench >&2
cmake --preset release -B "$native" >/dev/null
cmake --build "$native" --target fablewright-update-server >&2
bench_exe=$windows/bench/fw-download-wine-bench.exe
server_exe=$native/tools/update-server/fablewright-update-server

work=$(mktemp -d "${FW_BENCH_DIR:-${TMPDIR:-/tmp}}/fw-wine-bench.XXXXXX")
server_pid= xvfb_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
  wineserver -w
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
fi
wineserver -p 2>/dev/null || true

Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(tr -d '[:space:]' < "$work/display")

mkdir -p "$work/server/UpDefs" "$work/server/files" "$work/install"
head -c 256M /dev/urandom > "$work/server/files/bench.exe"
cat "$work/server/files/bench.exe" > /dev/null  # into the page cache
wine "$bench_exe" prepare "$(winepath -w "$work/server")" "$(winepath -w "$work/install")" >&2
"$server_exe" --root "$work/server" --port 0 --port-file "$work/port" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
host=127.0.0.1:$(cat "$work/port")

results=$work/results.txt
: > "$results"
run_product() {
  rm -rf "$work/install/temp"
  wine "$bench_exe" product "$host" | tr -d '\r' | sed 's/^/product /' >> "$results"
}
run_loop() {
  wine "$bench_exe" loop "$host" files/bench.exe 65536 | tr -d '\r' | sed 's/^/loop /' >> "$results"
}
run_curl() {
  rm -f "$work/curl.bin"
  echo "curl total_seconds=$(curl -s -o "$work/curl.bin" -w '%{time_total}' "http://$host/files/bench.exe")" >> "$results"
}
runs=(run_product run_loop run_curl)
for ((i = 0; i < repetitions; i++)); do
  for ((j = 0; j < 3; j++)); do "${runs[$(((i + j) % 3))]}"; done
done

python3 - "$results" "$repetitions" "$(nproc)" <<'PY'
import statistics, sys
path, reps, cores = sys.argv[1], sys.argv[2], sys.argv[3]
size = 256 << 20
times = {}
for line in open(path):
    who, _, rest = line.strip().partition(" ")
    name, _, value = rest.partition("=")
    if name in ("total_seconds", "transfer_seconds"):
        times.setdefault((who, name), []).append(float(value))
    elif name == "error":
        sys.exit(f"{who}: {value}")
rows = [
    ("WineDownload256MiB_Product", ("product", "total_seconds")),
    ("WineDownload256MiB_ProductTransfer", ("product", "transfer_seconds")),
    ("WineDownload256MiB_WinInetLoop64KiB", ("loop", "total_seconds")),
    ("WineDownload256MiB_Curl", ("curl", "total_seconds")),
]
rate = {}
print(f"Wine download, 256 MiB over loopback, medians of {reps} repetitions, {cores} cores")
print(f'| {"benchmark":<36} | {"median time":>12} | {"rate":>10} | {"rates, low to high":>20} |')
print(f'|{"-" * 38}|{"-" * 14}|{"-" * 12}|{"-" * 22}|')
for label, key in rows:
    t = times.get(key, [])
    if not t:
        continue
    m = statistics.median(t)
    rate[label] = size / m / 1e6
    print(f"| {label:<36} | {m * 1e3:>9.0f} ms | {rate[label]:>5.0f} MB/s |"
          f" {size / max(t) / 1e6:>7.0f} to {size / min(t) / 1e6:>6.0f} MB/s |")
for label, num, den in [
    ("Download / WinInet loop", "WineDownload256MiB_Product", "WineDownload256MiB_WinInetLoop64KiB"),
    ("Transfer only / WinInet loop", "WineDownload256MiB_ProductTransfer", "WineDownload256MiB_WinInetLoop64KiB"),
    ("Download / curl", "WineDownload256MiB_Product", "WineDownload256MiB_Curl"),
]:
    if num in rate and den in rate:
        print(f'| {label:<36} | {"":>12} | {rate[num] / rate[den]:>9.2f}x | {"":>20} |')
PY
