#!/usr/bin/env bash
# "-quietcheck -notify" against a real notification daemon: dunst on a virtual display, in a
# D-Bus session of its own. The test reads what dunst received, answers the notification as a
# person would (a click opens the window; "Skip this version" from dunst's menu keeps the next
# run silent until a newer version is on offer) and checks that the scheduled check sends only
# the definitions request.
#   notify_dunst_test.sh BUILD_DIR [SCREENSHOT.png]
set -euo pipefail
build=$(cd "$1" && pwd)
shot=${2:-}
if [ -z "${FW_NOTIFY_TEST_SESSION:-}" ]; then
  # The bus's own chatter about the services it starts is left out.
  FW_NOTIFY_TEST_SESSION=1 dbus-run-session -- "$0" "$@" 2>&1 |
    { grep -v -e '^dbus-daemon' -e 'SpiRegistry' || true; }
  exit "${PIPESTATUS[0]}"
fi

work=$(mktemp -d /tmp/fw-notify-test.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
wait_for() {  # wait_for SECONDS COMMAND...
  local limit=$1; shift
  for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
  fail "timed out waiting for: $*"
}

"$build/tools/sample-install/fablewright-sample" --out "$work" >/dev/null
"$build/tools/update-server/fablewright-update-server" --root "$work/server" --port 0 \
  --port-file "$work/port" --log "$work/requests.log" >/dev/null &
pids+=($!)
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/display"
wait_for 10 test -s "$work/port"
export DISPLAY=:$(tr -d '[:space:]' < "$work/display")
export FABLEWRIGHT_REGISTRY="$work/registry.reg"
port=$(cat "$work/port")

# dunst's menu of a notification's actions is a dmenu-like program: this one picks the line
# that the test names in $work/pick.
cat > "$work/pick.sh" <<PICK
#!/bin/sh
tee "$work/menu.txt" | grep -F "\$(cat "$work/pick")" | head -1
PICK
chmod +x "$work/pick.sh"
cat > "$work/dunstrc" <<RC
[global]
  font = DejaVu Sans 10
  width = 420
  offset = 12x12
  max_icon_size = 48
  dmenu = $work/pick.sh
[urgency_normal]
  timeout = 0
RC
dunst -config "$work/dunstrc" >"$work/dunst.log" 2>&1 &
pids+=($!)
# Asked before dunst is up, the bus would start one of its own without the display.
has_daemon() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null |
    grep -q 'boolean true'
}
wait_for 10 has_daemon

program=("$build/app/fablewright-update" -server "127.0.0.1:$port" -infoserver "127.0.0.1:$port")
notifier=""
start_check() {  # the scheduled run, as the timer starts it
  "${program[@]}" -quietcheck -notify -scheduled >"$work/out.txt" 2>"$work/err.txt" &
  notifier=$!
}
check_ends_with() {  # check_ends_with CODE
  local rc=0
  for _ in $(seq 100); do kill -0 "$notifier" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$notifier" 2>/dev/null && fail "the notifying run did not end"
  wait "$notifier" || rc=$?
  [ "$rc" -eq "$1" ] || { cat "$work/err.txt" >&2; fail "exit code $rc, not $1"; }
}
displayed() { [ "$(dunstctl count displayed)" = "$1" ]; }
history_count() { dunstctl count history; }
window() { xdotool search --name '^Fablewright Update Downloader$' 2>/dev/null | head -1; }
has_window() { [ -n "$(window)" ]; }
no_window() { [ -z "$(window)" ]; }

echo "1. updates on offer: one notification; a click opens the window"
start_check
wait_for 20 displayed 1
if [ -n "$shot" ]; then
  sleep 0.5
  import -display "$DISPLAY" -window root "$work/shot.png"
  convert "$work/shot.png" -crop 460x160+552+0 -trim +repage "$shot"
fi
dunstctl action 0
check_ends_with 10
wait_for 20 has_window
dunstctl history > "$work/history.json"
for text in 'Fablewright updates are available' \
            'Version 4.2 is available for Fablewright, Fantasy, Western, Horror.' \
            '"Fablewright Update"' '"default"'; do
  grep -qF "$text" "$work/history.json" || fail "dunst did not receive $text"
done
window_pid=$(xdotool getwindowpid "$(window)")
kill "$window_pid"
wait_for 10 no_window
grep -q '"method":"POST"' "$work/requests.log" && fail "the scheduled check sent the update request"
[ "$(grep -c '"GET /UpDefs/FablewrightUpdates.txt' "$work/requests.log")" -eq 1 ] ||
  fail "the definitions were not requested once"

echo "1b. run by systemd: the window gets a unit of its own from the user's service manager"
# A stand-in for systemd-run that notes how it was asked and starts the command, as a
# transient unit would.
mkdir -p "$work/bin"
cat > "$work/bin/systemd-run" <<FAKE
#!/bin/sh
echo "\$@" > "$work/systemd-run.txt"
while [ "\$1" != "--" ]; do shift; done
shift
exec "\$@"
FAKE
chmod +x "$work/bin/systemd-run"
INVOCATION_ID=0123 PATH="$work/bin:$PATH" \
  "${program[@]}" -quietcheck -notify -scheduled >"$work/out.txt" 2>"$work/err.txt" &
notifier=$!
wait_for 20 displayed 1
dunstctl action 0
check_ends_with 10
wait_for 20 has_window
grep -q -- '^--user --quiet --collect --no-block -- .*fablewright-update -server 127.0.0.1:' \
  "$work/systemd-run.txt" || fail "systemd-run was asked: $(cat "$work/systemd-run.txt" 2>&1)"
kill "$(xdotool getwindowpid "$(window)")"
wait_for 10 no_window

echo "2. Skip this version, from the notification's menu"
start_check
wait_for 20 displayed 1
echo "Skip this version" > "$work/pick"
dunstctl context
check_ends_with 10
for action in "Update now" "Later" "Skip this version"; do
  grep -qF "$action" "$work/menu.txt" || fail "the menu did not offer $action"
done
grep -qiF '[HKEY_CURRENT_USER\Software\Corvallen\Fablewright\SkippedVersion\Release]' \
  "$work/registry.reg" || fail "the skipped version was not remembered"
[ -z "$(window)" ] || fail "skipping opened the window"

echo "3. the same version again: silent"
before=$(history_count)
start_check
check_ends_with 10
grep -qF "Version 4.2 was skipped" "$work/out.txt" || fail "no word of the skipped version"
displayed 0 || fail "a skipped version was notified"
[ "$(history_count)" = "$before" ] || fail "dunst received a notification for a skipped version"

echo "4. a newer version notifies again; closing it ends the run"
sed -i 's/^version~4.2/version~4.3/' "$work/server/UpDefs/FablewrightUpdates.txt"
start_check
wait_for 20 displayed 1
dunstctl close
check_ends_with 10
dunstctl history | grep -qF 'Version 4.3 is available' || fail "no notification of 4.3"
[ -z "$(window)" ] || fail "closing the notification opened the window"
echo "4b. SIGTERM while the notification waits: withdrawn, the run ends with the check's code"
start_check
wait_for 20 displayed 1
kill -TERM "$notifier"
check_ends_with 10
wait_for 5 displayed 0

echo "5. up to date: silent, only the definitions request, under a second of processor time"
printf 'version~4.3\nupdate~Noir~files/NoirUpd.sh~10~0\n' > "$work/server/UpDefs/FablewrightUpdates.txt"
: > "$work/requests.log"
before=$(history_count)
/usr/bin/time -f '%U %S' -o "$work/time.txt" "${program[@]}" -quietcheck -notify -scheduled \
  >"$work/out.txt" 2>"$work/err.txt" || fail "an up-to-date check ended with $?"
[ "$(history_count)" = "$before" ] && displayed 0 || fail "an up-to-date check notified"
[ "$(wc -l < "$work/requests.log")" -eq 1 ] &&
  grep -q '"GET /UpDefs/FablewrightUpdates.txt' "$work/requests.log" ||
  fail "the up-to-date check sent more than the definitions request"
read -r user sys < "$work/time.txt"
echo "   processor time: ${user} s user, ${sys} s system"
awk -v u="$user" -v s="$sys" 'BEGIN { exit !(u + s < 1.0) }' || fail "it took ${user}+${sys} s"

echo "6. no network: the scheduled check does nothing"
offline=()
if unshare -n true 2>/dev/null; then offline=(unshare -n)
elif unshare -rn true 2>/dev/null; then offline=(unshare -rn)
fi
if [ ${#offline[@]} -gt 0 ]; then
  : > "$work/requests.log"
  "${offline[@]}" "${program[@]}" -quietcheck -notify -scheduled >"$work/out.txt" 2>&1 ||
    fail "an offline scheduled check ended with $?"
  grep -qF "No network connection" "$work/out.txt" || fail "no word of the missing network"
  [ ! -s "$work/requests.log" ] || fail "the offline check sent a request"
else
  echo "   left out: no network namespace can be made here"
fi
echo "PASSED"
