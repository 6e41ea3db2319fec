#!/usr/bin/env bash
# The Windows program's notifying check under Wine, against a loopback update server: its icon
# in the notification area (Wine's own tray window) with the balloon, a click that opens the
# window, "Skip this version" from the icon's menu, and -schedule on/off with the Task
# Scheduler as far as Wine has one.
#   .ci/notify-wine.sh EXE SERVER SAMPLE WORKDIR [SCREENSHOT.png [PUBLISH KEY PASSPHRASE-FILE]]
# PUBLISH, KEY, PASSPHRASE-FILE: for a program built with keys, fablewright-publish and the
# private key the definitions are signed with.
# WINEPREFIX must name a prefix that is ready, DISPLAY a display without a window manager.
set -euo pipefail
exe=$1 server=$2 sample=$3 work=$4 shot=${5:-}
publish=${6:-} key=${7:-} passphrase=${8:-}

fail() { echo "notifying check under Wine: $*" >&2; exit 1; }
wait_for() {  # wait_for SECONDS COMMAND...
  local limit=$1; shift
  for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
  fail "timed out waiting for: $*"
}

rm -rf "$work" && mkdir -p "$work"
if [ -n "$publish" ]; then
  "$sample" --out "$work" --digests >/dev/null
  for defs in "$work"/server/UpDefs/*.txt; do
    "$publish" sign --key "$key" --passphrase-file "$passphrase" "$defs" >/dev/null
  done
else
  "$sample" --out "$work" >/dev/null
fi
"$server" --root "$work/server" --port 0 --port-file "$work/port" --log "$work/requests.log" \
  >"$work/server.log" 2>&1 &
server_pid=$!
notifier=
cleanup() {
  [ -n "$notifier" ] && kill "$notifier" 2>/dev/null || true
  kill "$server_pid" 2>/dev/null || true
}
trap cleanup EXIT
wait_for 5 test -s "$work/port"
host=127.0.0.1:$(cat "$work/port")
wine reg add 'HKCU\Software\Corvallen\Fablewright\InstallDir' /ve /t REG_SZ \
  /d "$(winepath -w "$work/Fablewright")" /f >/dev/null
wine reg delete 'HKCU\Software\Corvallen\Fablewright\SkippedVersion' /f >/dev/null 2>&1 || true

start_check() {
  wine "$exe" -quietcheck -notify -server "$host" -infoserver "$host" >"$work/out.txt" 2>&1 &
  notifier=$!
}
ends_with() {  # ends_with CODE
  local rc=0
  for _ in $(seq 100); do kill -0 "$notifier" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$notifier" 2>/dev/null && fail "the notifying run did not end"
  wait "$notifier" || rc=$?
  notifier=
  [ "$rc" -eq "$1" ] || fail "exit code $rc, not $1: $(cat "$work/out.txt")"
}
# Wine shows notification-area icons in a tray window of its own when the X display has none;
# the notifier's hidden window carries the notification's title.
icon_owner() { xdotool search --name '^Fablewright updates are available$' >/dev/null 2>&1; }
tray() { xdotool search --onlyvisible --name '^Wine System Tray$' 2>/dev/null | head -1; }
has_tray() { [ -n "$(tray)" ]; }
window() { xdotool search --name '^Fablewright Update Downloader$' 2>/dev/null | head -1; }
has_window() { [ -n "$(window)" ]; }
icon_at() {  # sets x and y to the first icon of the tray window
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$(tray)")"
  x=$((X + 12)) y=$((Y + 32))
}

echo "1. updates on offer: an icon with a balloon; a click on it opens the window"
start_check
wait_for 30 icon_owner
wait_for 10 has_tray
if [ -n "$shot" ]; then
  sleep 3  # Wine's tray shows the balloon a moment after the icon
  import -display "$DISPLAY" -window root "$work/shot.png"
  convert "$work/shot.png" -crop 420x110+0+0 +repage "$shot"
fi
icon_at
xdotool mousemove "$x" "$y" click 1
ends_with 10
wait_for 20 has_window
kill "$(xdotool getwindowpid "$(window)")" 2>/dev/null || true
grep -q '"method":"POST"' "$work/requests.log" && fail "the notifying check sent the update request"

echo "2. Skip this version, from the icon's menu"
start_check
wait_for 30 icon_owner
icon_at
xdotool mousemove "$x" "$y" click 3
sleep 1
# The menu opens at the pointer: Update now, Later, Skip this version.
xdotool mousemove $((x + 60)) $((y + 45)) click 1
ends_with 10
wine reg query 'HKCU\Software\Corvallen\Fablewright\SkippedVersion\Release' /ve | grep -q '4\.2' ||
  fail "the skipped version was not remembered"

echo "3. the same version again: no icon"
start_check
ends_with 10
grep -q 'Version 4.2 was skipped' "$work/out.txt" || fail "no word of the skipped version"

echo "4. -schedule on and off"
tasks="$WINEPREFIX/drive_c/windows/system32/tasks"
wine "$exe" -schedule on >"$work/schedule.txt" 2>&1 || fail "-schedule on: $(cat "$work/schedule.txt")"
task=$(ls "$tasks" | grep '^Fablewright Update Check' | head -1)
[ -n "$task" ] || fail "no task was registered"
grep -q '<RunOnlyIfNetworkAvailable>true' "$tasks/$task" || fail "the task runs without a network"
wine "$exe" -schedule off >"$work/schedule.txt" 2>&1 || fail "-schedule off: $(cat "$work/schedule.txt")"
[ ! -e "$tasks/$task" ] || fail "the task is still there"
echo "notifying check under Wine: PASSED"
