#!/usr/bin/env bash
# The demo: a sample installation, a local update server, and the real window pointed at it.
#   ./demo.sh          with a display: you click through Check, Download, Install, Exit
#   ./demo.sh --auto   (or without a display) the window runs under Xvfb and is driven by the
#                      keyboard through every step; a screenshot of each step is saved
#   ./demo.sh --auto --beta   the same with the beta channel and its installation folder
#   ./demo.sh --https  the server speaks TLS with a certificate from an authority made for this
#                      run; the demo's own build of the program (fablewright-update-demo) trusts
#                      that authority, the program itself never does
#   ./demo.sh --signed        signed definitions, and a build (build/demo-signed) that trusts
#                             only the demo's own key (made once, in build/demo-signed/demo-key)
#   ./demo.sh --auto --tampered   signed, and the product's updater replaced on the server by
#                             another program of the same size and 32-bit checksum: refused
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD

auto=0
beta=0
https=0
signed=0
tampered=0
for arg in "$@"; do
  case "$arg" in
    --auto) auto=1 ;;
    --beta) beta=1 ;;
    --https) https=1 ;;
    --signed) signed=1 ;;
    --tampered) signed=1; tampered=1 ;;
    *) echo "usage: $0 [--auto] [--beta] [--https] [--signed | --tampered]" >&2; exit 2 ;;
  esac
done
[ -z "${DISPLAY:-}" ] && auto=1

./scripts/install-deps.sh
keys=$root/build/demo-signed/demo-key
targets=(fablewright-update fablewright-update-demo fablewright-update-server fablewright-sample)
if [ "$signed" -eq 1 ]; then
  # The demo's publisher key, made once with stock OpenSSL; its build trusts it and nothing else.
  # The release preset's own build never sees it.
  if [ ! -s "$keys/demo.pub" ]; then
    mkdir -p "$keys"
    echo "demo passphrase" > "$keys/passphrase"
    openssl ecparam -name prime256v1 -genkey -noout |
      openssl pkcs8 -topk8 -v2 aes-256-cbc -passout "file:$keys/passphrase" -out "$keys/demo.key"
    openssl pkey -in "$keys/demo.key" -passin "file:$keys/passphrase" -pubout -out "$keys/demo.pub"
  fi
  if [ -z "${DEMO_BUILD_DIR:-}" ]; then
    cmake --preset release -B "$root/build/demo-signed" -DFW_TRUSTED_KEYS="$keys/demo.pub" >/dev/null
    cmake --build "$root/build/demo-signed" --target "${targets[@]}" fablewright-publish >/dev/null
  fi
  bin=${DEMO_BUILD_DIR:-$root/build/demo-signed}
else
  if [ -z "${DEMO_BUILD_DIR:-}" ]; then
    cmake --preset release >/dev/null
    cmake --build --preset release --target "${targets[@]}" >/dev/null
  fi
  bin=${DEMO_BUILD_DIR:-$root/build/release}
fi

work=$(mktemp -d /tmp/fablewright-demo.XXXXXX)
sample_flags=()
[ "$signed" -eq 1 ] && sample_flags+=(--digests)
[ "$tampered" -eq 1 ] && sample_flags+=(--tampered)
"$bin/tools/sample-install/fablewright-sample" --out "$work" "${sample_flags[@]}"
if [ "$signed" -eq 1 ]; then
  publish=("$bin/tools/publish/fablewright-publish")
  for defs in "$work"/server/UpDefs/*.txt; do
    "${publish[@]}" sign --key "$keys/demo.key" --passphrase-file "$keys/passphrase" "$defs" >/dev/null
  done
  echo "What the publisher's check of the served folder says:"
  "${publish[@]}" verify --root "$work/server" --key "$keys/demo.pub" | sed 's/^/  /' ||
    [ "$tampered" -eq 1 ]
fi
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

# A server on a free loopback port; the updaters come at a modest rate so the progress shows.
faults=()
for f in "$work"/server/files/*; do
  faults+=(--fault "/files/$(basename "$f"):rate=1500000")
done
tls=()
# The authority's key never leaves the server process; only its certificate is written here.
[ "$https" -eq 1 ] && tls=(--authority-out "$work/authority.pem" --tls trusted)
"$bin/tools/update-server/fablewright-update-server" --root "$work/server" --port 0 \
  --port-file "$work/port" --log "$work/requests.log" "${faults[@]}" "${tls[@]}" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
export FABLEWRIGHT_REGISTRY="$work/registry.reg"
if [ "$https" -eq 1 ]; then
  # The certificate names localhost.
  server="https://localhost:$port"
  export FABLEWRIGHT_DEMO_AUTHORITY="$work/authority.pem"
  app=("$bin/app/fablewright-update-demo" -server "$server" -infoserver "$server")
else
  server="127.0.0.1:$port"
  app=("$bin/app/fablewright-update" -server "$server" -infoserver "$server")
fi

echo "Sample installation: $work/Fablewright"
echo "Update server:       ${server/#127/http://127}/ (serving $work/server)"

if [ "$auto" -eq 0 ]; then
  "${app[@]}"
else
  shots=${DEMO_SCREENSHOTS:-$work/screenshots}
  mkdir -p "$shots"
  # The X server picks a free display itself and tells us which.
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "the virtual display did not start" >&2; exit 1; }
  display=:$(tr -d '[:space:]' < "$work/display")
  export DISPLAY=$display
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  # A freshly started X server now and then refuses its first client; give the window a few
  # tries before calling it a failure.
  win=""
  for attempt in 1 2 3; do
    "${app[@]}" &
    apppid=$!
    pids+=($apppid)
    for _ in $(seq 100); do
      win=$(xdotool search --name "^Fablewright Update Downloader$" 2>/dev/null | head -1) && [ -n "$win" ] && break
      kill -0 "$apppid" 2>/dev/null || break
      sleep 0.1
    done
    [ -n "$win" ] && break
    kill "$apppid" 2>/dev/null || true
    echo "the window did not appear (attempt $attempt)" >&2
    sleep 1
  done
  [ -n "$win" ] || { echo "the window did not appear" >&2; exit 1; }
  # The whole screen, trimmed to the windows on it (message boxes included).
  shot() {
    sleep 0.5
    import -display "$display" -window root "$shots/$1.png"
    convert "$shots/$1.png" -trim +repage "$shots/$1.png"
    echo "  screenshot $shots/$1.png"
  }
  key() { xdotool windowfocus --sync "$win" 2>/dev/null || true; xdotool key --clearmodifiers "$1"; }
  wait_for() {  # wait_for SECONDS COMMAND...
    local limit=$1; shift
    for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
    echo "timed out waiting for: $*" >&2; return 1
  }

  echo "Step 1: the window is up"
  shot 1-start
  echo "Escape asks whether to cancel a download (answered Yes: nothing is running)"
  key Escape
  sleep 0.5
  shot 1-cancel-question
  xdotool key --clearmodifiers Return
  sleep 0.5
  defs="$work/server/UpDefs/FablewrightUpdates.txt"
  if [ "$beta" -eq 1 ]; then
    echo "Beta Version (Alt+B)"
    key alt+b
    defs="$work/server/UpDefs/FablewrightBetaUpdates.txt"
  fi
  echo "Step 2: Check (Alt+C)"
  key alt+c
  wait_for 20 grep -q '"POST' "$work/requests.log"
  shot 2-checked
  echo "Step 3: Download (Alt+D)"
  key alt+d
  if [ "$tampered" -eq 1 ]; then
    has_window() { xdotool search --name "^$1\$" >/dev/null 2>&1; }
    answer() {  # answer CAPTION KEY: the key goes to that message box
      local box
      box=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1)
      xdotool windowfocus --sync "$box" 2>/dev/null || true
      xdotool key --clearmodifiers "$2"
    }
    wait_for 30 has_window Error
    shot 3-tampered-refused
    echo "  the altered updater is refused (OK)"
    answer Error Return
    wait_for 10 has_window "Try Again\\?"
    shot 3-retry-question
    echo "  no second try (Alt+N)"
    answer "Try Again\\?" alt+n
    sleep 1
    echo "Exit (Alt+X)"
    key alt+x
    wait_for 10 bash -c "! kill -0 $apppid 2>/dev/null"
    echo "What the update server saw:"
    sed -E 's/.*"requestLine":"([^"]*)".*/  \1/' "$work/requests.log"
    ran=$(grep -c 'TAMPERED' "$work/updaters.log" 2>/dev/null || true)
    left=$(ls "$work/Fablewright/temp" 2>/dev/null | wc -l)
    echo "Screenshots: $shots"
    if [ "${ran:-0}" -ne 0 ] || [ "$left" -ne 0 ] || kill -0 "$apppid" 2>/dev/null; then
      echo "FAILED: the altered updater ran ($ran) or stayed in the temp folder ($left files)" >&2
      exit 1
    fi
    echo "OK: the altered updater (same size and 32-bit checksum) was refused and deleted"
    exit 0
  fi
  sleep 1.5
  shot 3-downloading
  listed=$(grep -c '^update~' "$defs")
  all_downloaded() {
    local f t
    for f in $(sed -n 's/^update~[^~]*~files\/\([^~]*\)~.*/\1/p' "$defs"); do
      t="$work/Fablewright/temp/$f"
      f="$work/server/files/$f"
      [ -f "$t" ] && [ "$(stat -c%s "$t")" -eq "$(stat -c%s "$f")" ] || return 1
    done
  }
  wait_for 60 all_downloaded
  sleep 1
  shot 4-downloaded
  for i in $(seq "$listed"); do
    echo "Step $((4 + i)): Install (Alt+I), updater $i of $listed"
    key alt+i
    if [ "$beta" -eq 1 ] && [ "$i" -eq 1 ]; then
      sleep 1
      shot 5-beta-folder
      echo "  the proposed beta folder is accepted (Enter)"
      xdotool key --clearmodifiers Return
    fi
    wait_for 30 bash -c "[ \$(grep -c '^updater' '$work/updaters.log' 2>/dev/null || echo 0) -ge $i ]"
    sleep 2.5  # the updater sleeps a second, the window polls once a second
    shot "$((4 + i))-installed-$i"
  done
  echo "Exit (Alt+X)"
  key alt+x
  wait_for 10 bash -c "! kill -0 $apppid 2>/dev/null"
  echo
  echo "What the update server saw:"
  sed -E 's/.*"requestLine":"([^"]*)".*/  \1/' "$work/requests.log"
  echo "What the updaters recorded:"
  sed 's/^/  /' "$work/updaters.log"
  left=$(ls "$work/Fablewright/temp" 2>/dev/null | wc -l)
  echo "Updaters left in the temp folder after Exit: $left"
  echo "Screenshots: $shots"
  # What the run must have done, so that CI can rely on it.
  ran=$(grep -c '^updater' "$work/updaters.log" || true)
  fetched=$(grep -c '"GET /files/' "$work/requests.log" || true)
  if [ "$ran" -ne "$listed" ] || [ "$fetched" -ne "$listed" ] || [ "$left" -ne 0 ] ||
     kill -0 "$apppid" 2>/dev/null; then
    echo "FAILED: $listed updates listed, $fetched fetched, $ran ran, $left left behind" >&2
    exit 1
  fi
  echo "OK: $listed updates fetched, run one by one and cleaned up"
fi
