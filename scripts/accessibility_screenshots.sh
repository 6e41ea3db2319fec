#!/usr/bin/env bash
# Screenshots of the main window after Check and of the beta folder dialog at 1x, 1.5x and 2x
# text scale and with the high-contrast theme, into docs/screenshots/ (or $1).
#   scripts/accessibility_screenshots.sh [OUT_DIR]     (uses build/dev)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${BUILD_DIR:-$root/build/dev}
out=${1:-$root/docs/screenshots}
work=$(mktemp -d /tmp/fw-shots.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

"$bin/tools/sample-install/fablewright-sample" --out "$work" >/dev/null
"$bin/tools/update-server/fablewright-update-server" --root "$work/server" --port 0 \
  --port-file "$work/port" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
n=150
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=:$n FABLEWRIGHT_REGISTRY="$work/registry.reg"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
metacity --sm-disable --compositor=none >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

shot() {  # shot NAME WINDOW_TITLE
  local id
  id=$(xdotool search --onlyvisible --name "^$2\$" | tail -1)
  import -window "$id" -frame "$out/$1.png" 2>/dev/null || import -window root "$out/$1.png"
  echo "  $out/$1.png"
}
run() {  # run NAME ENV...
  local name=$1; shift
  rm -f "$work/registry.reg"; "$bin/tools/sample-install/fablewright-sample" --out "$work" >/dev/null
  env "$@" "$bin/app/fablewright-update" -server "127.0.0.1:$port" -infoserver "127.0.0.1:$port" &
  local app=$!
  for _ in $(seq 100); do xdotool search --name "^Fablewright Update Downloader$" >/dev/null 2>&1 && break; sleep 0.1; done
  sleep 0.5
  xdotool key --clearmodifiers alt+b; sleep 0.2
  xdotool key --clearmodifiers alt+c; sleep 1.5
  shot "gtk-a11y-$name-main" "Fablewright Update Downloader"
  xdotool key --clearmodifiers alt+d; sleep 3
  xdotool key --clearmodifiers alt+i; sleep 1
  shot "gtk-a11y-$name-beta-folder" "Select Beta Installation Directory"
  xdotool key --clearmodifiers Escape; sleep 0.3
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
}
run 1x GDK_DPI_SCALE=1
run 1.5x GDK_DPI_SCALE=1.5
run 2x GDK_DPI_SCALE=2
run high-contrast GTK_THEME=HighContrast
